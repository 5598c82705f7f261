#include "relay-program/relay_arguments.h"

#include <gtest/gtest.h>

namespace dravnok::relay_program {
namespace {

const std::u16string kPipe = u"\\\\.\\pipe\\dravnok-input-12-00112233445566778899aabbccddeeff";

TEST(RelayArguments, OptionsTakeTheNextArgumentAndTheLastValueWins) {
  const auto args = parseRelayArguments({u"relay.exe", u"stray", u"--helper", u"12", u"--pipe", u"x", u"--agent", u"9",
                                         u"--pipe", kPipe, u"--HELPER", u"99"});
  EXPECT_EQ(args.pipe, kPipe);
  EXPECT_EQ(args.helperPid, 12u);
  EXPECT_EQ(args.agentPid, 9u);
  EXPECT_TRUE(argumentsUsable(args));
}

TEST(RelayArguments, AnOptionInLastPositionIsIgnored) {
  const auto args = parseRelayArguments({u"relay.exe", u"--helper", u"12", u"--pipe"});
  EXPECT_TRUE(args.pipe.empty());
  EXPECT_FALSE(argumentsUsable(args));
  // An option is also a value when it follows another option.
  EXPECT_EQ(parseRelayArguments({u"relay.exe", u"--pipe", u"--helper", u"5"}).pipe, u"--helper");
}

TEST(RelayArguments, HelperIdMustBeANonZeroNumber) {
  EXPECT_FALSE(argumentsUsable(parseRelayArguments({u"r", u"--pipe", kPipe, u"--helper", u"abc"})));
  EXPECT_FALSE(argumentsUsable(parseRelayArguments({u"r", u"--pipe", kPipe})));
  EXPECT_EQ(parseRelayArguments({u"r", u"--pipe", kPipe, u"--helper", u" 42x"}).helperPid, 42u);
  EXPECT_EQ(leadingInteger(u"-7"), -7);
  EXPECT_EQ(leadingInteger(u"99999999999"), 2147483647);
}

TEST(RelayArguments, PipeNameNeedsTheHostsPrefix) {
  EXPECT_FALSE(
      argumentsUsable(parseRelayArguments({u"r", u"--pipe", u"\\\\.\\pipe\\other-input-1", u"--helper", u"3"})));
  EXPECT_TRUE(
      argumentsUsable(parseRelayArguments({u"r", u"--pipe", u"\\\\.\\pipe\\dravnok-input-", u"--helper", u"3"})));
  EXPECT_FALSE(
      argumentsUsable(parseRelayArguments({u"r", u"--pipe", u"\\\\.\\PIPE\\dravnok-input-1", u"--helper", u"3"})));
}

} // namespace
} // namespace dravnok::relay_program
