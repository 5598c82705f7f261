#include "host/command_line.h"

#include <gtest/gtest.h>

using namespace dravnok::host;

namespace {
ModeChoice choose(std::vector<std::string> args) { return chooseMode(args); }
} // namespace

TEST(CommandLine, FirstMatchingArgumentDecidesAndOthersAreSkipped) {
  EXPECT_EQ(choose({}).mode, Mode::Normal);
  EXPECT_EQ(choose({"--verbose", "--probe"}).mode, Mode::Probe);
  EXPECT_EQ(choose({"--Probe"}).mode, Mode::Normal);
  EXPECT_EQ(choose({"--probe="}).mode, Mode::Normal);
  ModeChoice selftest = choose({"--selftest", "--probe"});
  EXPECT_EQ(selftest.mode, Mode::Selftest);
  EXPECT_EQ(selftest.args, std::vector<std::string>{"--probe"});
  EXPECT_EQ(choose({"x", "--clip-echo", "a.png", "b.png"}).args, (std::vector<std::string>{"a.png", "b.png"}));
}

TEST(CommandLine, BenchCountIsLikeAtoiWithTwelveAsFallback) {
  EXPECT_EQ(benchCount(choose({"--bench"})), 12);
  const std::pair<const char*, int> cases[] = {{"0", 12}, {"x", 12}, {"-4", 12}, {"30", 30}, {"7fps", 7}};
  for (auto [arg, count] : cases) EXPECT_EQ(benchCount(choose({"--bench", arg})), count) << arg;
}
