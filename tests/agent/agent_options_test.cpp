#include "agent/agent_options.h"
#include "agent/secret.h"

#include <gtest/gtest.h>

using namespace dravnok::agent;

namespace {
ParsedOptions parse(std::vector<std::string> args) { return parseAgentOptions(args); }
} // namespace

TEST(AgentOptions, DefaultsBindToLoopbackInControlMode) {
  auto parsed = parse({});
  ASSERT_TRUE(parsed.options);
  EXPECT_EQ(parsed.options->host, "127.0.0.1");
  EXPECT_EQ(parsed.options->port, 8080);
  EXPECT_EQ(parsed.options->mode, "control");
  EXPECT_TRUE(parsed.options->secret.empty());
}

TEST(AgentOptions, IceServersKeepCommasInsideTheCredential) {
  auto parsed = parse({"--ice", "stun:127.0.0.1:3478", "--ice", "turn:host:3478?transport=udp,ann,p,w"});
  ASSERT_TRUE(parsed.options);
  EXPECT_EQ(
      parsed.options->iceServers.dump(),
      R"([{"urls":"stun:127.0.0.1:3478"},{"credential":"p,w","urls":"turn:host:3478?transport=udp","username":"ann"}])");
}

TEST(AgentOptions, BadValuesAreRefusedWithAReason) {
  EXPECT_EQ(parse({"--mode", "Control"}).error, "--mode is control or view-only, not 'Control'");
  EXPECT_EQ(parse({"--listen", "8080"}).error, "--listen wants HOST:PORT, not '8080'");
  EXPECT_EQ(parse({"--listen", "h:70000"}).error, "--listen wants HOST:PORT, not 'h:70000'");
  EXPECT_EQ(parse({"--secret"}).error, "--secret needs a value");
  EXPECT_EQ(parse({"--secret", ""}).error, "--secret must not be empty");
  EXPECT_EQ(parse({"--bogus", "1"}).error, "unknown option --bogus");
  auto v6 = parse({"--listen", "[::1]:9000"});
  ASSERT_TRUE(v6.options);
  EXPECT_EQ(v6.options->host, "::1");
}

TEST(Secret, EqualOnlyForTheSameNonEmptyText) {
  EXPECT_TRUE(secretsEqual("abc", "abc"));
  EXPECT_FALSE(secretsEqual("abc", "abd"));
  EXPECT_FALSE(secretsEqual("abc", "ab"));
  EXPECT_FALSE(secretsEqual("", ""));
  EXPECT_EQ(randomHex(16).size(), 32u);
  EXPECT_NE(randomHex(16), randomHex(16));
}
