#include "video/conversion_settings.h"
#include "video/sample_clock.h"
#include "video/speed_preset.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <tuple>

using namespace dravnok::video;

TEST(ConversionSettings, ThreadsFollowTheMachineAndTheVariableAndAFlagChoosesTheLegacyConverter) {
  // (hardware threads, DRAVNOK_REMOTE_CONVTHREADS, conversion threads); the
  // last value does not fit the 16-byte buffer it is read into.
  const std::tuple<unsigned, std::optional<std::string_view>, int> cases[] = {{0, std::nullopt, 1},
                                                                              {2, std::nullopt, 1},
                                                                              {4, std::nullopt, 3},
                                                                              {16, std::nullopt, 4},
                                                                              {16, "0", 4},
                                                                              {16, "many", 4},
                                                                              {16, "12", 8},
                                                                              {16, "1", 1},
                                                                              {2, " 6", 6},
                                                                              {16, "000000000000006", 6},
                                                                              {16, "0000000000000006", 4}};
  for (const auto& [cores, value, threads] : cases)
    EXPECT_EQ(conversionSettingsFrom(cores, value, std::nullopt).threads, threads) << cores << value.value_or("-");
  EXPECT_TRUE(conversionSettingsFrom(4, std::nullopt, "yes").legacy);
  EXPECT_FALSE(conversionSettingsFrom(4, std::nullopt, std::nullopt).legacy);
}

TEST(SampleClock, TimesStartAtZeroAndNeverRepeatOrGoBack) {
  SampleClock clock(1000); // one tick per millisecond
  // (counter, frame rate, sample time in 100 ns units)
  const std::tuple<int64_t, int, int64_t> samples[] = {{5000, 30, 0},      // the first
                                                       {5000, 30, 1},      // the same tick
                                                       {5010, 30, 100000}, // 10 ms later
                                                       {4000, 30, 100001}, // the counter went back
                                                       {0, 30, 433334},    // no counter: a frame later
                                                       {0, 2, 2433334}};   // at least 5 fps
  for (const auto& [counter, rate, time] : samples) EXPECT_EQ(clock.sampleTime(counter, rate), time) << counter;
  // Long uptimes do not overflow.
  SampleClock big(10'000'000);
  big.sampleTime(1, 30);
  EXPECT_EQ(big.sampleTime(1 + int64_t{10'000'000} * 86400 * 365, 30), int64_t{10'000'000} * 86400 * 365);
}

TEST(SpeedPreset, SettingDefaultsTo50StopsAt100AndChoosesTheX264Preset) {
  // (DRAVNOK_REMOTE_QVS as a number, the setting, its x264 preset)
  const std::tuple<std::optional<int>, int32_t, std::string> cases[] = {
      {std::nullopt, 50, "ultrafast"}, {0, 50, "ultrafast"}, {1, 1, "ultrafast"},   {51, 51, "superfast"},
      {79, 79, "superfast"},           {80, 80, "veryfast"}, {250, 100, "veryfast"}};
  for (const auto& [value, setting, preset] : cases)
    EXPECT_EQ(std::pair(qualityVsSpeed(value), std::string(x264PresetFor(setting))), std::pair(setting, preset));
}
