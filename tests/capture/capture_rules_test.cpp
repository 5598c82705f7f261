#include "capture/encode_size.h"
#include "capture/frame_brightness.h"
#include "capture/monitor_info.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

using namespace dravnok::capture;

TEST(EncodeSize, ScalesTheLongSideAndKeepsSidesEvenAndAtLeastTwo) {
  // Width, height and the limit (0: none); the encode size.
  // clang-format off
  const std::tuple<int32_t, int32_t, uint32_t, EncodeSize> sizes[] = {
      {2560, 1440, 1920, {1920, 1080}}, {3840, 2160, 1920, {1920, 1080}}, {1920, 1080, 1920, {1920, 1080}},
      {1366, 768, 1920, {1366, 768}}, {1365, 767, 1920, {1364, 766}}, {1080, 2400, 1920, {864, 1920}},
      {1, 1, 1920, {2, 2}}, {5000, 3, 1920, {1920, 2}}, {3841, 2161, 0, {3840, 2160}}};
  // clang-format on
  for (const auto& [w, h, limit, size] : sizes) EXPECT_EQ(computeEncodeSize(w, h, limit), size) << w << "x" << h;
}

TEST(MonitorOrder, PrimaryFirstThenByLeftEvenWhenNegative) {
  std::vector<MonitorInfo> monitors{
      {1920, 0, 1280, 1024, false}, {0, 0, 1920, 1080, true}, {-1920, 0, 1920, 1080, false}};
  sortMonitors(monitors);
  EXPECT_EQ(monitors, (std::vector<MonitorInfo>{
                          {0, 0, 1920, 1080, true}, {-1920, 0, 1920, 1080, false}, {1920, 0, 1280, 1024, false}}));
  EXPECT_EQ(monitorAtOrigin(monitors, -1920, 0), 1);
  EXPECT_EQ(monitorAtOrigin(monitors, 5, 5), 0);

  const MonitorInfo screen{0, 0, 800, 600, true};
  EXPECT_EQ(monitorOr(monitors, 2, screen), monitors[2]);
  for (int outside : {-1, 3}) EXPECT_EQ(monitorOr(monitors, outside, screen), screen);

  // Without a marked primary, the monitor at the origin is, or else the first.
  for (auto [second, primary] : {std::pair{0, 1}, std::pair{900, 0}}) {
    std::vector<MonitorInfo> unmarked{{100, 0, 800, 600, false}, {second, 0, 800, 600, false}};
    ensureOnePrimary(unmarked);
    EXPECT_TRUE(unmarked[primary].primary) << second;
    EXPECT_FALSE(unmarked[1 - primary].primary) << second;
  }
}

TEST(BlackFrame, EverySixteenthPixelsColoursCountAndAMeanOfThreeIsNotBlack) {
  const uint32_t width = 64, height = 32;
  // Samples at x = 0, 16, 32, 48 of rows 0 and 16: 24 channel values.
  const auto image = [&](std::initializer_list<std::pair<size_t, uint8_t>> bytes) {
    std::vector<uint8_t> pixels(width * height * 4, 0);
    for (const auto& [at, value] : bytes) pixels[at] = value;
    return pixels;
  };
  const size_t sample = (16 * width + 32) * 4, offGrid = (17 * width + 5) * 4;
  const std::tuple<const char*, std::vector<uint8_t>, bool> cases[] = {
      {"all black", image({}), true},
      {"bright off the sampling grid", image({{offGrid + 1, 255}}), true},
      {"only alpha", image({{sample + 3, 255}}), true},
      {"a mean of exactly 3", image({{sample, 24}, {sample + 1, 24}, {sample + 2, 24}}), false},
      {"a mean just below 3", image({{sample, 24}, {sample + 1, 24}, {sample + 2, 23}}), true}};
  for (const auto& [name, pixels, black] : cases)
    EXPECT_EQ(isMostlyBlack(pixels.data(), width * 4, width, height), black) << name;
  const std::vector<uint8_t> dim = image({{sample, 24}, {offGrid + 1, 47}});
  EXPECT_NEAR(meanBrightness(dim.data(), width * 4, width, height, 1), 71.0 / (width * height * 3), 1e-12);
  EXPECT_EQ(meanBrightness(nullptr, width * 4, width, height, 16), -1.0);
  EXPECT_EQ(meanBrightness(dim.data(), width * 4, width, height, 0), -1.0);
  EXPECT_FALSE(isMostlyBlack(dim.data(), width * 4, 0, height)); // nothing sampled: not black
}
