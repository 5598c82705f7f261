#include "agent/agent_options.h"
#include "agent/secret.h"

#include <fstream>
#include <gtest/gtest.h>
#include <tuple>

using namespace dravnok::agent;

namespace {
ParsedOptions parse(std::vector<std::string> args) { return parseAgentOptions(args); }
} // namespace

TEST(AgentOptions, ListensOnLoopbackByDefaultAndOffItSpeaksTlsUnlessToldOtherwise) {
  const std::tuple<std::vector<std::string>, std::string, bool> cases[] = {
      {{}, "127.0.0.1", false},
      {{"--listen", "[::1]:8080"}, "::1", false},
      {{"--listen", "127.9.9.9:8080"}, "127.9.9.9", false},
      {{"--listen", "128.0.0.1:1"}, "128.0.0.1", true},
      {{"--listen", "0.0.0.0:8080"}, "0.0.0.0", true},
      {{"--listen", "0.0.0.0:8080", "--insecure-http"}, "0.0.0.0", false},
      {{"--tls-cert", "c.pem", "--tls-key", "k.pem"}, "127.0.0.1", true},
  };
  for (const auto& [args, host, tls] : cases) {
    auto parsed = parse(args);
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(std::pair(parsed.options->host, usesTls(*parsed.options)), std::pair(host, tls))
        << testing::PrintToString(args);
  }
}

TEST(AgentOptions, BadValuesAreRefusedWithAReason) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--mode", "Control"}, "--mode is control or view-only, not 'Control'"},
      {{"--listen", "8080"}, "--listen wants HOST:PORT, not '8080'"},
      {{"--listen", "h:70000"}, "--listen wants HOST:PORT, not 'h:70000'"},
      {{"--listen", "h:80x"}, "--listen wants HOST:PORT, not 'h:80x'"},
      {{"--secret"}, "--secret needs a value"},
      {{"--secret", "fifteen-letters"}, "the secret must have at least 16 characters"},
      {{"--secret-file", "/nonexistent"}, "cannot read the secret from /nonexistent"},
      {{"--tls-key", "k.pem"}, "--tls-cert and --tls-key go together"},
      {{"--allow-host", "a.example:80"}, "--allow-host wants a host name or address, not 'a.example:80'"},
      {{"--open-timeout", "0"}, "--open-timeout wants 1 to 3600 seconds, not '0'"},
      {{"--bogus", "1"}, "unknown option --bogus"},
  };
  for (const auto& [args, error] : cases) EXPECT_EQ(parse(args).error, error);
  EXPECT_EQ(parseAgentOptions({}, "fifteen-letters").error, "the secret must have at least 16 characters");
}

TEST(AgentOptions, ServerModeRefusesWhatOnlyListeningUses) {
  std::string secretFile = testing::TempDir() + "server-mode-secret";
  std::ofstream(secretFile) << "sixteen-letters!\n";
  const std::string listening[] = {"--listen h:1",
                                   "--secret sixteen-letters!",
                                   "--secret-file " + secretFile,
                                   "--tls-cert c",
                                   "--tls-key k",
                                   "--allow-host a",
                                   "--viewer-dir d",
                                   "--insecure-http"};
  for (const std::string& option : listening) {
    auto space = option.find(' ');
    std::vector<std::string> args{"--server", "https://h", option.substr(0, space)};
    if (space != std::string::npos) args.push_back(option.substr(space + 1));
    EXPECT_EQ(parse(args).error, args[2] + " makes no sense with --server");
  }
  EXPECT_EQ(parse({"--server", "http://h"}).error, "--server wants https://NAME[:PORT], not 'http://h'");
  EXPECT_EQ(parse({"--server-ca", "ca.pem"}).error, "--server-ca goes with --server");
}

TEST(AgentOptions, SecretFromTheCommandLineAFileOrTheEnvironment) {
  std::string path = testing::TempDir() + "agent-secret";
  std::ofstream(path) << "from-the-file-0123\nsecond line";
  auto fromFile = parseAgentOptions(std::vector<std::string>{"--secret-file", path}, "from-the-environment");
  ASSERT_TRUE(fromFile.options);
  EXPECT_EQ(std::pair(fromFile.options->secret, fromFile.options->secretOnCommandLine),
            std::pair(std::string("from-the-file-0123"), false));
  EXPECT_EQ(parseAgentOptions({}, "from-the-environment").options->secret, "from-the-environment");
  EXPECT_TRUE(parse({"--secret", "sixteen-letters!"}).options->secretOnCommandLine);
}

TEST(Secret, EqualOnlyForTheSameNonEmptyText) {
  EXPECT_EQ((std::vector{secretsEqual("abc", "abc"), secretsEqual("abc", "abd"), secretsEqual("abc", "ab"),
                         secretsEqual("", "")}),
            (std::vector{true, false, false, false}));
  EXPECT_EQ(randomHex(16).size(), 32u);
  EXPECT_NE(randomHex(16), randomHex(16));
}
