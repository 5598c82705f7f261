#include "video/colour_formulas.h"
#include "video/nv12_rows.h"

#include <cstring>

namespace dravnok::video {

void convertRowPairScalar(const uint8_t* top, const uint8_t* bottom, int width, uint8_t* lumaTop, uint8_t* lumaBottom,
                          uint8_t* chroma) {
  for (int x = 0; x < width; x += 2) {
    const uint8_t* a = top + 4 * x;
    const uint8_t* b = a + 4;
    const uint8_t* c = bottom + 4 * x;
    const uint8_t* d = c + 4;
    lumaTop[x] = lumaOf(a[0], a[1], a[2]);
    lumaTop[x + 1] = lumaOf(b[0], b[1], b[2]);
    lumaBottom[x] = lumaOf(c[0], c[1], c[2]);
    lumaBottom[x + 1] = lumaOf(d[0], d[1], d[2]);
    uint32_t sumB = a[0] + b[0] + c[0] + d[0];
    uint32_t sumG = a[1] + b[1] + c[1] + d[1];
    uint32_t sumR = a[2] + b[2] + c[2] + d[2];
    chroma[x] = chromaUOf(sumB, sumG, sumR);
    chroma[x + 1] = chromaVOf(sumB, sumG, sumR);
  }
}

void redoHalfwayPoints(const uint8_t* top, const uint8_t* bottom, int columns, const uint32_t* lumaTopQuotients,
                       const uint32_t* lumaBottomQuotients, const uint32_t* chromaQuotients, uint8_t* lumaTop,
                       uint8_t* lumaBottom, uint8_t* chroma) {
  constexpr uint32_t kFraction = 0xFFFF;
  for (int x = 0; x < columns; ++x) {
    if ((lumaTopQuotients[x] & kFraction) == 0) lumaTop[x] = lumaByDouble(top[4 * x], top[4 * x + 1], top[4 * x + 2]);
    if ((lumaBottomQuotients[x] & kFraction) == 0) {
      lumaBottom[x] = lumaByDouble(bottom[4 * x], bottom[4 * x + 1], bottom[4 * x + 2]);
    }
    if ((chromaQuotients[x] & kFraction) != 0) continue;
    const int left = 4 * (x & ~1);
    uint32_t sums[3];
    for (int channel = 0; channel < 3; ++channel) {
      sums[channel] =
          top[left + channel] + top[left + 4 + channel] + bottom[left + channel] + bottom[left + 4 + channel];
    }
    chroma[x] = (x & 1) ? chromaVByDouble(sums[0], sums[1], sums[2]) : chromaUByDouble(sums[0], sums[1], sums[2]);
  }
}

void gatherRowScalar(const uint8_t* row, const int32_t* columns, int width, uint8_t* out) {
  for (int x = 0; x < width; ++x) std::memcpy(out + 4 * x, row + columns[x], 4);
}

} // namespace dravnok::video
