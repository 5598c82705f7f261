#include "agent/agent_options.h"
#include "agent/secret.h"

#include <fstream>
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
  EXPECT_EQ(parse({"--secret", "fifteen-letters"}).error, "the secret must have at least 16 characters");
  EXPECT_EQ(parseAgentOptions({}, "fifteen-letters").error, "the secret must have at least 16 characters");
  EXPECT_EQ(parse({"--secret-file", "/nonexistent"}).error, "cannot read the secret from /nonexistent");
  EXPECT_EQ(parse({"--tls-key", "k.pem"}).error, "--tls-cert and --tls-key go together");
  EXPECT_EQ(parse({"--allow-host", "a.example:80"}).error,
            "--allow-host wants a host name or address, not 'a.example:80'");
  EXPECT_EQ(parse({"--open-timeout", "0"}).error, "--open-timeout wants 1 to 3600 seconds, not '0'");
  EXPECT_EQ(parse({"--bogus", "1"}).error, "unknown option --bogus");
  auto v6 = parse({"--listen", "[::1]:9000"});
  ASSERT_TRUE(v6.options);
  EXPECT_EQ(v6.options->host, "::1");
}

TEST(AgentOptions, SecretFromTheCommandLineAFileOrTheEnvironment) {
  std::string path = testing::TempDir() + "agent-secret";
  std::ofstream(path) << "from-the-file-0123\nsecond line";
  auto fromFile = parseAgentOptions(std::vector<std::string>{"--secret-file", path}, "from-the-environment");
  ASSERT_TRUE(fromFile.options);
  EXPECT_EQ(fromFile.options->secret, "from-the-file-0123");
  EXPECT_FALSE(fromFile.options->secretOnCommandLine);
  EXPECT_EQ(parseAgentOptions({}, "from-the-environment").options->secret, "from-the-environment");
  auto onCommandLine = parse({"--secret", "sixteen-letters!"});
  ASSERT_TRUE(onCommandLine.options);
  EXPECT_TRUE(onCommandLine.options->secretOnCommandLine);
}

TEST(AgentOptions, OffLoopbackTheAgentSpeaksTlsUnlessToldOtherwise) {
  struct Case {
    std::vector<std::string> args;
    bool tls;
  } cases[] = {
      {{}, false},
      {{"--listen", "[::1]:8080"}, false},
      {{"--listen", "127.9.9.9:8080"}, false},
      {{"--listen", "128.0.0.1:8080"}, true},
      {{"--listen", "0.0.0.0:8080"}, true},
      {{"--listen", "0.0.0.0:8080", "--insecure-http"}, false},
      {{"--tls-cert", "c.pem", "--tls-key", "k.pem"}, true},
  };
  for (const auto& c : cases) {
    auto parsed = parse(c.args);
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(usesTls(*parsed.options), c.tls) << testing::PrintToString(c.args);
  }
}

TEST(Secret, EqualOnlyForTheSameNonEmptyText) {
  EXPECT_TRUE(secretsEqual("abc", "abc"));
  EXPECT_FALSE(secretsEqual("abc", "abd"));
  EXPECT_FALSE(secretsEqual("abc", "ab"));
  EXPECT_FALSE(secretsEqual("", ""));
  EXPECT_EQ(randomHex(16).size(), 32u);
  EXPECT_NE(randomHex(16), randomHex(16));
}
