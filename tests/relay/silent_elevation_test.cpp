#include "relay/silent_elevation.h"

#include <gtest/gtest.h>

namespace dravnok::relay {
namespace {

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
