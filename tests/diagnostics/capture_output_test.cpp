#include "diagnostics/bitmap_file.h"
#include "diagnostics/probe_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace dravnok::diagnostics;

namespace {

uint32_t le32(const std::vector<uint8_t>& bytes, size_t at) {
  uint32_t value;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

} // namespace

TEST(Bitmap, RowsArePaddedBottomUpBgrWithoutAlpha) {
  EXPECT_EQ(bitmapRowBytes(1366), 4100u);
  EXPECT_EQ(bitmapRowBytes(1), 4u);
  EXPECT_EQ(bitmapRowBytes(4), 12u);
  // 3x2 pixels, rows with a pitch beyond width x 4.
  std::vector<uint8_t> pixels(2 * 16, 0xCC);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      uint8_t* p = pixels.data() + y * 16 + x * 4;
      p[0] = static_cast<uint8_t>(10 * y + x); // B
      p[1] = 100;                              // G
      p[2] = 200;                              // R
      p[3] = 7;                                // alpha, dropped
    }
  }
  auto file = encodeBitmap24(pixels.data(), 16, 3, 2);
  const uint32_t rowBytes = bitmapRowBytes(3);
  ASSERT_EQ(rowBytes, 12u);
  ASSERT_EQ(file.size(), 54u + 2 * rowBytes);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(le32(file, 2), file.size());
  EXPECT_EQ(le32(file, 10), 54u);
  EXPECT_EQ(le32(file, 14), 40u);
  EXPECT_EQ(le32(file, 18), 3u);
  EXPECT_EQ(le32(file, 22), 2u);
  EXPECT_EQ(le32(file, 34), 2 * rowBytes);
  // The last image row comes first.
  const std::vector<uint8_t> bottom{10, 100, 200, 11, 100, 200, 12, 100, 200, 0, 0, 0};
  const std::vector<uint8_t> top{0, 100, 200, 1, 100, 200, 2, 100, 200, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 54, file.begin() + 66), bottom);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 66, file.end()), top);
}

TEST(ProbeLine, VerdictFollowsTheBlackThreshold) {
  ProbeResult result{1, "GPU", 2, true, 2560, 1440, 2560, 1440, 3.0};
  EXPECT_EQ(probeLine(result),
            "adapter 1 'GPU' output 2 attached=1 desc=2560x1440 tex=2560x1440 brightness=3.0 <== REAL DESKTOP\n");
  result.brightness = 2.96;
  EXPECT_EQ(probeVerdict(result.brightness), std::string("(black)"));
  EXPECT_EQ(probeLine(ProbeResult{0, "GPU", 0, false, 1920, 1080}),
            "adapter 0 'GPU' output 0 attached=0 desc=1920x1080 tex=0x0 brightness=-1.0 (no frame)\n");
}
