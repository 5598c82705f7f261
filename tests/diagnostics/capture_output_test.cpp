#include "diagnostics/bitmap_file.h"
#include "diagnostics/probe_line.h"

#include <gtest/gtest.h>

#include <vector>

using namespace dravnok::diagnostics;

TEST(CaptureOutput, BitmapRowsArePaddedBottomUpBgrWithoutAlphaAndTheProbesVerdictFollowsTheBlackThreshold) {
  // 2x2 BGRA pixels with a pitch of 12; each row becomes 6 bytes and two of padding.
  const uint8_t pixels[] = {1, 2, 3, 4, 5, 6, 7, 8, 0xCC, 0xCC, 0xCC, 0xCC, 9, 10, 11, 12, 13, 14, 15, 16};
  std::vector<uint8_t> expected = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0,  54, 0, 0, 0, 40, 0,  0, 0, 2,
                                   0,   0,   0,  2, 0, 0, 0, 1, 0, 24, 0,  0, 0, 0, 0,  16, 0, 0, 0};
  expected.resize(54);
  expected.insert(expected.end(), {9, 10, 11, 13, 14, 15, 0, 0, 1, 2, 3, 5, 6, 7, 0, 0});
  EXPECT_EQ(encodeBitmap24(pixels, 12, 2, 2), expected);
  EXPECT_EQ(bitmapRowBytes(1366), 4100u);

  // The probe's verdict follows the black threshold.
  EXPECT_EQ(probeLine({1, "GPU", 2, true, 2560, 1440, 2560, 1440, 3.0}),
            "adapter 1 'GPU' output 2 attached=1 desc=2560x1440 tex=2560x1440 brightness=3.0 <== REAL DESKTOP\n");
  EXPECT_EQ(probeLine({0, "GPU", 0, false, 1920, 1080, 0, 0, 2.96}),
            "adapter 0 'GPU' output 0 attached=0 desc=1920x1080 tex=0x0 brightness=3.0 (black)\n");
  EXPECT_EQ(probeLine(ProbeResult{0, "GPU", 0, false, 1920, 1080}),
            "adapter 0 'GPU' output 0 attached=0 desc=1920x1080 tex=0x0 brightness=-1.0 (no frame)\n");
}
