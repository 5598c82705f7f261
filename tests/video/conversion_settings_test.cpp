#include "video/conversion_settings.h"
#include "video/sample_clock.h"
#include "video/speed_preset.h"

#include <gtest/gtest.h>

using namespace dravnok::video;

TEST(ConversionSettings, ThreadCountFollowsTheMachineAndTheVariable) {
  EXPECT_EQ(defaultConversionThreads(0), 1);
  EXPECT_EQ(defaultConversionThreads(2), 1);
  EXPECT_EQ(defaultConversionThreads(4), 3);
  EXPECT_EQ(defaultConversionThreads(16), 4);
  EXPECT_EQ(conversionSettingsFrom(16, "0", std::nullopt).threads, 4);
  EXPECT_EQ(conversionSettingsFrom(16, "many", std::nullopt).threads, 4);
  EXPECT_EQ(conversionSettingsFrom(16, "12", std::nullopt).threads, 8);
  EXPECT_EQ(conversionSettingsFrom(16, "1", std::nullopt).threads, 1);
  EXPECT_EQ(conversionSettingsFrom(2, " 6", std::nullopt).threads, 6);
  // Does not fit the 16-byte buffer the value is read into.
  EXPECT_EQ(conversionSettingsFrom(16, "000000000000006", std::nullopt).threads, 6);
  EXPECT_EQ(conversionSettingsFrom(16, "0000000000000006", std::nullopt).threads, 4);
}

TEST(ConversionSettings, LegacyConverterIsChosenByAShortTrueFlag) {
  EXPECT_TRUE(conversionSettingsFrom(4, std::nullopt, "yes").legacy);
  EXPECT_TRUE(conversionSettingsFrom(4, std::nullopt, "1").legacy);
  EXPECT_FALSE(conversionSettingsFrom(4, std::nullopt, "no").legacy);
  EXPECT_FALSE(conversionSettingsFrom(4, std::nullopt, "yes-yes!").legacy);
  EXPECT_FALSE(conversionSettingsFrom(4, std::nullopt, std::nullopt).legacy);
}

TEST(SampleClock, TimesStartAtZeroAndNeverRepeatOrGoBack) {
  SampleClock clock(1000); // one tick per millisecond
  EXPECT_EQ(clock.sampleTime(5000, 30), 0);
  EXPECT_EQ(clock.sampleTime(5000, 30), 1);      // same tick
  EXPECT_EQ(clock.sampleTime(5010, 30), 100000); // 10 ms later
  EXPECT_EQ(clock.sampleTime(4000, 30), 100001); // the counter went back
  EXPECT_EQ(clock.sampleTime(0, 30), 100001 + 333333);
  EXPECT_EQ(clock.sampleTime(0, 2), 100001 + 333333 + 2000000); // at least 5 fps
  // Long uptimes do not overflow.
  SampleClock big(10'000'000);
  big.sampleTime(1, 30);
  EXPECT_EQ(big.sampleTime(1 + int64_t{10'000'000} * 86400 * 365, 30), int64_t{10'000'000} * 86400 * 365);
}

TEST(SampleClock, WithoutACounterTimesAdvanceByOneFrame) {
  SampleClock clock(0);
  EXPECT_EQ(clock.sampleTime(123, 10), 0);
  EXPECT_EQ(clock.sampleTime(124, 10), 1000000);
}

TEST(SpeedPreset, SettingDefaultsTo50AndStopsAt100) {
  EXPECT_EQ(qualityVsSpeed(std::nullopt), 50);
  EXPECT_EQ(qualityVsSpeed(0), 50);
  EXPECT_EQ(qualityVsSpeed(250), 100);
  EXPECT_EQ(qualityVsSpeed(70), 70);
}
