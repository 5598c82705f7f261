#include "relay/pipe_format.h"
#include "relay/silent_elevation.h"

#include <gtest/gtest.h>

namespace dravnok::relay {
namespace {

TEST(PipeFormat, TheNamesTheParametersAndTheLinesTheHostWrites) {
  NonceBytes bytes{};
  for (unsigned i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(0xF0 + i);
  const std::string name = pipeName(4321, nonceHex(bytes));
  EXPECT_EQ(name, R"(\\.\pipe\dravnok-input-4321-f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff)");
  EXPECT_EQ(relayParameters(name, 4321, 77), "--pipe " + name + " --helper 4321 --agent 77");
  // Byte i takes counter byte i mod 8, xor 131*i.
  EXPECT_EQ(nonceHex(nonceFromCounter(0x0807060504030201ull)), "0181058d0989159d19991da521a12da5");
  EXPECT_EQ(displayMessage(0, -5, 10, -20), R"({"type":"_display","w":1,"h":1,"l":10,"t":-20})");
  EXPECT_EQ(pipeLine("{\"type\":\"move\",\r\n\"x\":0.5,\n\"y\":0.25}"), R"({"type":"move","x":0.5,"y":0.25})");
}

TEST(SilentElevation, EveryRowOfTheDecision) {
  const auto limited = [](std::optional<uint32_t> lua, std::optional<uint32_t> consent) {
    return ElevationFacts{true, true, ElevationType::Limited, lua, consent};
  };
  const std::string prompt = "Windows would show a UAC prompt on the PC (ConsentPromptBehaviorAdmin=";
  const std::tuple<ElevationFacts, bool, std::string> rows[] = {
      {{false, false, ElevationType::Limited, 1, 0}, false, "cannot read this process's token"},
      {{true, false, ElevationType::Limited, 1, 0}, false, "cannot read the elevation type"},
      {{true, true, ElevationType::Full, 1, 0}, false, "already running as administrator"},
      {{true, true, ElevationType::Default, 1, 0}, false, "this Windows user is not an administrator (or UAC is off)"},
      {limited(0, 0), false, "UAC is off"},
      {limited(std::nullopt, 0), true, ""}, // a missing switch counts as on
      {limited(1, 0), true, ""},
      {limited(1, 5), false, prompt + "5)"},
      {limited(1, std::nullopt), false, prompt + "5)"}, // a missing behaviour counts as 5
      {limited(1, 1), false, prompt + "1)"},
  };
  for (const auto& [facts, silent, expected] : rows) {
    std::string reason = "stale";
    EXPECT_EQ(decideSilentElevation(facts, reason), silent) << expected;
    EXPECT_EQ(reason, expected);
  }
}

} // namespace
} // namespace dravnok::relay
