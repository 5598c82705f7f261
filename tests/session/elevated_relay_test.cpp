#include "session/elevated_relay.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace dravnok;

namespace {

struct ElevatedRelay : ::testing::Test {
  std::vector<std::string> logs;
  int checks = 0;
  SessionLogFn log = [this](const std::string& level, const std::string& message) {
    logs.push_back(level + " " + message);
  };
  const RelayDisplay display{1920, 1080, -1920, 0};

  ElevationCheck answer(bool allowed, std::string reason = "") {
    return [=, this](std::string& out) {
      ++checks;
      out = reason;
      return allowed;
    };
  }
};

TEST_F(ElevatedRelay, ViewOnlyAsksNothingAndARefusalIsLoggedWithItsReason) {
  EXPECT_EQ(startElevatedRelay(true, 77, display, log, answer(true)), nullptr);
  EXPECT_EQ(checks, 0);
  EXPECT_EQ(startElevatedRelay(false, 77, display, log, answer(false, "a prompt would show (policy 5)")), nullptr);
  EXPECT_EQ(checks, 1);
  // This machine's own check: Linux has no relay, and under Wine the token
  // is a full administrator's.
  EXPECT_EQ(startElevatedRelay(false, 77, display, log), nullptr);
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(logs[0], "info input: no elevated relay (a prompt would show (policy 5))");
  EXPECT_EQ(logs[1].rfind("info input: no elevated relay (", 0), 0u) << logs[1];
}

TEST_F(ElevatedRelay, SilentElevationGivesAStartedRelayThatForwardsNothingUntilConnected) {
  auto relay = startElevatedRelay(false, 77, display, log, answer(true));
  ASSERT_NE(relay, nullptr);
  EXPECT_FALSE(relay->forward(R"({"type":"move","x":0.5,"y":0.5})"));
  relay->setDisplay(1280, 720, 0, 0);
  relay.reset(); // joins the launch thread, so its lines are all in
  for (const auto& line : logs) EXPECT_EQ(line.find("no elevated relay ("), std::string::npos) << line;
}

} // namespace
