#include "capture/encode_size.h"
#include "capture/frame_brightness.h"
#include "capture/monitor_info.h"

#include <gtest/gtest.h>

#include <vector>

using namespace dravnok::capture;

TEST(EncodeSize, ScalesTheLongSideAndKeepsSidesEvenAndAtLeastTwo) {
  EXPECT_EQ(computeEncodeSize(2560, 1440, 1920), (EncodeSize{1920, 1080}));
  EXPECT_EQ(computeEncodeSize(3840, 2160, 1920), (EncodeSize{1920, 1080}));
  EXPECT_EQ(computeEncodeSize(1920, 1080, 1920), (EncodeSize{1920, 1080}));
  EXPECT_EQ(computeEncodeSize(1366, 768, 1920), (EncodeSize{1366, 768}));
  EXPECT_EQ(computeEncodeSize(1365, 767, 1920), (EncodeSize{1364, 766}));
  EXPECT_EQ(computeEncodeSize(1080, 2400, 1920), (EncodeSize{864, 1920}));
  EXPECT_EQ(computeEncodeSize(1, 1, 1920), (EncodeSize{2, 2}));
  EXPECT_EQ(computeEncodeSize(5000, 3, 1920), (EncodeSize{1920, 2}));
  EXPECT_EQ(computeEncodeSize(3841, 2161, 0), (EncodeSize{3840, 2160})); // no limit
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
  EXPECT_EQ(monitorOr({}, 0, screen), screen);
}

TEST(MonitorOrder, WithoutAMarkedPrimaryTheMonitorAtTheOriginCounts) {
  std::vector<MonitorInfo> monitors{{-1920, 0, 1920, 1080, false}, {0, 0, 1920, 1080, false}};
  ensureOnePrimary(monitors);
  sortMonitors(monitors);
  EXPECT_TRUE(monitors[0].primary);
  EXPECT_EQ(monitors[0].left, 0);
  EXPECT_FALSE(monitors[1].primary);

  std::vector<MonitorInfo> apart{{100, 0, 800, 600, false}, {900, 0, 800, 600, false}};
  ensureOnePrimary(apart);
  EXPECT_TRUE(apart[0].primary);
  EXPECT_FALSE(apart[1].primary);
}

TEST(BlackFrame, SamplesEvery16thPixelAndTreatsNoSamplesAsNotBlack) {
  const uint32_t width = 64, height = 32;
  std::vector<uint8_t> pixels(width * height * 4, 0);
  EXPECT_TRUE(isMostlyBlack(pixels.data(), width * 4, width, height));
  // Bright pixels off the sampling grid change nothing...
  for (uint32_t y = 1; y < height; y += 2) pixels[(y * width + 5) * 4 + 1] = 255;
  EXPECT_TRUE(isMostlyBlack(pixels.data(), width * 4, width, height));
  // ...on it they do: 8 samples x 3 channels, one green 255 gives a mean of 10.6.
  pixels[(16 * width + 48) * 4 + 1] = 255;
  EXPECT_NEAR(meanBrightness(pixels.data(), width * 4, width, height, 16), 255.0 / 24, 1e-9);
  EXPECT_FALSE(isMostlyBlack(pixels.data(), width * 4, width, height));
  // Every channel counts, and a mean of exactly 3 is not black: 72 over
  // 24 channel samples. One less is.
  std::vector<uint8_t> dim(width * height * 4, 0);
  uint8_t* sample = &dim[(16 * width + 32) * 4];
  sample[0] = sample[1] = sample[2] = 24;
  EXPECT_FALSE(isMostlyBlack(dim.data(), width * 4, width, height));
  sample[2] = 23;
  EXPECT_TRUE(isMostlyBlack(dim.data(), width * 4, width, height));
  EXPECT_NEAR(meanBrightness(dim.data(), width * 4, width, height, 1), 71.0 / (width * height * 3), 1e-12);
  // Nothing to sample: no image, a zero step or no columns.
  EXPECT_EQ(meanBrightness(nullptr, width * 4, width, height, 16), -1.0);
  EXPECT_EQ(meanBrightness(dim.data(), width * 4, width, height, 0), -1.0);
  EXPECT_EQ(meanBrightness(dim.data(), width * 4, 0, height, 16), -1.0);
  // Alpha is ignored.
  std::vector<uint8_t> alphaOnly(width * height * 4, 0);
  for (size_t i = 3; i < alphaOnly.size(); i += 4) alphaOnly[i] = 255;
  EXPECT_TRUE(isMostlyBlack(alphaOnly.data(), width * 4, width, height));
  EXPECT_FALSE(isMostlyBlack(pixels.data(), width * 4, 0, height));
}
