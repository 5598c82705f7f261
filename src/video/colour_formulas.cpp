#include "video/colour_formulas.h"

#include <algorithm>
#include <cmath>

// Kept out of line and compiled without contraction (see CMakeLists.txt):
// a fused multiply-add would change the rounding at the halfway points.
namespace dravnok::video {
namespace {

uint8_t clampByte(long value) { return static_cast<uint8_t>(std::clamp(value, 0L, 255L)); }

} // namespace

uint8_t lumaByDouble(uint32_t b, uint32_t g, uint32_t r) {
  return clampByte(std::lround(r * 0.1826 + 16.0 + g * 0.6142 + b * 0.062));
}

uint8_t chromaUByDouble(uint32_t sumB, uint32_t sumG, uint32_t sumR) {
  double rMean = sumR * 0.25, gMean = sumG * 0.25, bMean = sumB * 0.25;
  return clampByte(std::lround(128.0 - rMean * 0.1006 - gMean * 0.3386 + bMean * 0.4392));
}

uint8_t chromaVByDouble(uint32_t sumB, uint32_t sumG, uint32_t sumR) {
  double rMean = sumR * 0.25, gMean = sumG * 0.25, bMean = sumB * 0.25;
  return clampByte(std::lround(rMean * 0.4392 + 128.0 - gMean * 0.399 - bMean * 0.0402));
}

} // namespace dravnok::video
