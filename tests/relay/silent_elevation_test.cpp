#include "relay/silent_elevation.h"

#include <gtest/gtest.h>

namespace dravnok::relay {
namespace {

struct Row {
  const char* name;
  ElevationFacts facts;
  bool silent;
  const char* reason;
};

ElevationFacts limited(std::optional<uint32_t> lua, std::optional<uint32_t> consent) {
  return {true, true, ElevationType::Limited, lua, consent};
}

TEST(SilentElevation, EveryRowOfTheDecision) {
  const Row rows[] = {
      {"no token", {false, false, ElevationType::Limited, 1, 0}, false, "cannot read this process's token"},
      {"no type", {true, false, ElevationType::Limited, 1, 0}, false, "cannot read the elevation type"},
      {"full", {true, true, ElevationType::Full, 1, 0}, false, "already running as administrator"},
      {"default",
       {true, true, ElevationType::Default, 1, 0},
       false,
       "this Windows user is not an administrator (or UAC is off)"},
      {"lua off", limited(0, 0), false, "UAC is off"},
      {"lua missing counts as on", limited(std::nullopt, 0), true, ""},
      {"silent", limited(1, 0), true, ""},
      {"prompt", limited(1, 5), false, "Windows would show a UAC prompt on the PC (ConsentPromptBehaviorAdmin=5)"},
      {"consent missing counts as 5", limited(1, std::nullopt), false,
       "Windows would show a UAC prompt on the PC (ConsentPromptBehaviorAdmin=5)"},
      {"credentials", limited(1, 1), false, "Windows would show a UAC prompt on the PC (ConsentPromptBehaviorAdmin=1)"},
  };
  for (const Row& row : rows) {
    std::string reason = "stale";
    EXPECT_EQ(decideSilentElevation(row.facts, reason), row.silent) << row.name;
    EXPECT_EQ(reason, row.reason) << row.name;
  }
}

#ifndef _WIN32
TEST(SilentElevation, NoRelayOnThisPlatform) {
  std::string reason;
  EXPECT_FALSE(canElevateSilently(reason));
  EXPECT_EQ(reason, "no elevated relay on this platform");
}
#endif

} // namespace
} // namespace dravnok::relay
