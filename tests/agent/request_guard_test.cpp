#include "agent/request_guard.h"
#include "agent/secret_throttle.h"

#include <gtest/gtest.h>

using namespace dravnok::agent;

TEST(RequestGuard, HostMustNameTheAgentByItsAddressOrAnAllowedName) {
  struct Case {
    const char* listen;
    const char* host;
    bool allowed;
  } cases[] = {
      {"127.0.0.1", "127.0.0.1:8080", true},     {"127.0.0.1", "LOCALHOST:8080", true},
      {"127.0.0.1", "[::1]:8080", true},         {"127.0.0.1", "::1:8080", false},
      {"127.0.0.1", "127.0.0.1", false}, // port 80
      {"127.0.0.1", "127.0.0.1:8080x", false},   {"127.0.0.1", "rebound.example:8080", false},
      {"192.168.1.5", "192.168.1.5:8080", true}, {"192.168.1.5", "192.168.1.6:8080", false},
      {"192.168.1.5", "localhost:8080", false},  {"192.168.1.5", "desk.EXAMPLE:8080", true},
      {"192.168.1.5", "203.0.113.7:8080", true}, {"192.168.1.5", "[2001:db8::7]:8080", true},
      {"0.0.0.0", "10.1.2.3:8080", true},        {"0.0.0.0", "[10.1.2.3]:8080", false},
      {"0.0.0.0", "localhost:8080", true},       {"0.0.0.0", "other.example:8080", false},
  };
  for (const auto& c : cases) {
    RequestRules rules{c.listen, 8080, false, {"desk.example", "203.0.113.7", "2001:db8::7"}};
    EXPECT_EQ(hostAllowed(rules, c.host), c.allowed) << c.listen << " " << c.host;
  }
}

TEST(RequestGuard, OverTlsTheDefaultPortAndTheOriginAreHttps) {
  RequestRules rules{"192.168.1.5", 443, true, {}};
  RequestHead head{.method = "GET", .host = "192.168.1.5", .origin = "https://192.168.1.5"};
  EXPECT_FALSE(checkRequest(rules, head));
  head.origin = "http://192.168.1.5";
  EXPECT_EQ(checkRequest(rules, head)->status, 403);
}

// The free failures and the first wait are the agent test's (throttled_secrets).
TEST(SecretThrottle, WaitsDoubleAfterTheFreeFailuresUpToALimitAndSuccessForgets) {
  using namespace std::chrono_literals;
  SecretThrottle throttle;
  auto now = SecretThrottle::Clock::time_point{} + 1h;
  for (int i = 0; i <= SecretThrottle::kFreeFailures; ++i) throttle.failed("a", now);
  EXPECT_EQ(throttle.waitFor("a", now), 2s);
  for (int i = 0; i < 30; ++i) throttle.failed("a", now);
  EXPECT_EQ(throttle.waitFor("a", now), SecretThrottle::kLongestWait);
  throttle.succeeded("a");
  EXPECT_EQ(throttle.waitFor("a", now), 0s);
}
