#include "video/speed_preset.h"

#include <gtest/gtest.h>

#include <string>

namespace dravnok::video {
namespace {

TEST(SpeedPreset, SettingDefaultsTo50AndStopsAt100) {
  EXPECT_EQ(qualityVsSpeed(std::nullopt), 50);
  EXPECT_EQ(qualityVsSpeed(0), 50);
  EXPECT_EQ(qualityVsSpeed(250), 100);
  EXPECT_EQ(qualityVsSpeed(70), 70);
}

TEST(SpeedPreset, DefaultIsTheFastestAndHigherSettingsBuyQuality) {
  EXPECT_EQ(std::string(x264PresetFor(1)), "ultrafast");
  EXPECT_EQ(std::string(x264PresetFor(50)), "ultrafast");
  EXPECT_EQ(std::string(x264PresetFor(51)), "superfast");
  EXPECT_EQ(std::string(x264PresetFor(80)), "veryfast");
  EXPECT_EQ(std::string(x264PresetFor(100)), "veryfast");
}

} // namespace
} // namespace dravnok::video
