#include "video/speed_preset.h"

#include <gtest/gtest.h>

namespace dravnok::video {
namespace {

TEST(SpeedPreset, SettingDefaultsTo50AndStopsAt100) {
  EXPECT_EQ(qualityVsSpeed(std::nullopt), 50);
  EXPECT_EQ(qualityVsSpeed(0), 50);
  EXPECT_EQ(qualityVsSpeed(250), 100);
  EXPECT_EQ(qualityVsSpeed(70), 70);
}

} // namespace
} // namespace dravnok::video
