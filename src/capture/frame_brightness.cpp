#include "capture/frame_brightness.h"

#include <cstddef>

namespace dravnok::capture {

double meanBrightness(const uint8_t* pixels, int64_t pitch, uint32_t width, uint32_t height, uint32_t step) {
  if (!pixels || step == 0) return -1.0;
  uint64_t sum = 0, count = 0;
  for (uint32_t y = 0; y < height; y += step) {
    const uint8_t* row = pixels + static_cast<int64_t>(y) * pitch;
    for (uint32_t x = 0; x < width; x += step) {
      const uint8_t* p = row + static_cast<size_t>(x) * 4;
      sum += uint64_t{p[0]} + p[1] + p[2];
      count += 3;
    }
  }
  return count == 0 ? -1.0 : static_cast<double>(sum) / static_cast<double>(count);
}

bool isMostlyBlack(const uint8_t* pixels, int64_t pitch, uint32_t width, uint32_t height) {
  double mean = meanBrightness(pixels, pitch, width, height, 16);
  return mean >= 0.0 && mean < kBlackThreshold;
}

} // namespace dravnok::capture
