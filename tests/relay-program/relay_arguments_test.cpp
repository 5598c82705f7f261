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
  // An option in last position is ignored; one that follows another option is its value.
  EXPECT_TRUE(parseRelayArguments({u"relay.exe", u"--helper", u"12", u"--pipe"}).pipe.empty());
  EXPECT_EQ(parseRelayArguments({u"relay.exe", u"--pipe", u"--helper", u"5"}).pipe, u"--helper");
  EXPECT_EQ(parseRelayArguments({u"r", u"--pipe", kPipe, u"--helper", u" 42x"}).helperPid, 42u);
  EXPECT_EQ(leadingInteger(u"-7"), -7);
  EXPECT_EQ(leadingInteger(u"99999999999"), 2147483647);
}

TEST(RelayArguments, UsableWithANonZeroHelperAndThePipePrefix) {
  const std::pair<std::vector<std::u16string>, bool> cases[] = {
      {{u"r", u"--pipe", kPipe, u"--helper", u"abc"}, false},
      {{u"r", u"--pipe", kPipe}, false},
      {{u"r", u"--helper", u"3"}, false},
      {{u"r", u"--pipe", u"\\\\.\\pipe\\other-input-1", u"--helper", u"3"}, false},
      {{u"r", u"--pipe", u"\\\\.\\PIPE\\dravnok-input-1", u"--helper", u"3"}, false},
      {{u"r", u"--pipe", u"\\\\.\\pipe\\dravnok-input-", u"--helper", u"3"}, true},
  };
  for (const auto& [argv, usable] : cases) EXPECT_EQ(argumentsUsable(parseRelayArguments(argv)), usable);
}

} // namespace
} // namespace dravnok::relay_program
