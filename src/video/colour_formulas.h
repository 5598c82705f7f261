#pragma once
// BT.709 limited-range BGRA to YUV, in the two forms both converters share.
// The integer forms equal the exact value plus one half, cut to an integer;
// at exact halfway points they defer to the double expressions, so every
// converter gives the same bytes for the same pixels.
#include <cstdint>

namespace dravnok::video {

// The double expressions, evaluated in exactly this order.
uint8_t lumaByDouble(uint32_t b, uint32_t g, uint32_t r);
// Sums are over the four pixels of a 2x2 block.
uint8_t chromaUByDouble(uint32_t sumB, uint32_t sumG, uint32_t sumR);
uint8_t chromaVByDouble(uint32_t sumB, uint32_t sumG, uint32_t sumR);

inline constexpr uint32_t kLumaBias = 165000;
inline constexpr uint32_t kLumaDivisor = 10000;
inline constexpr uint32_t kChromaBias = 5140000;
inline constexpr uint32_t kChromaDivisor = 40000;

inline uint32_t lumaNumerator(uint32_t b, uint32_t g, uint32_t r) { return 620 * b + 6142 * g + 1826 * r + kLumaBias; }
inline uint32_t chromaUNumerator(uint32_t sumB, uint32_t sumG, uint32_t sumR) {
  return 4392 * sumB - 3386 * sumG - 1006 * sumR + kChromaBias;
}
inline uint32_t chromaVNumerator(uint32_t sumB, uint32_t sumG, uint32_t sumR) {
  return 4392 * sumR - 3990 * sumG - 402 * sumB + kChromaBias;
}

inline uint8_t lumaOf(uint32_t b, uint32_t g, uint32_t r) {
  uint32_t s = lumaNumerator(b, g, r);
  if (s % kLumaDivisor == 0) return lumaByDouble(b, g, r);
  return static_cast<uint8_t>(s / kLumaDivisor);
}

inline uint8_t chromaUOf(uint32_t sumB, uint32_t sumG, uint32_t sumR) {
  uint32_t t = chromaUNumerator(sumB, sumG, sumR);
  if (t % kChromaDivisor == 0) return chromaUByDouble(sumB, sumG, sumR);
  return static_cast<uint8_t>(t / kChromaDivisor);
}

inline uint8_t chromaVOf(uint32_t sumB, uint32_t sumG, uint32_t sumR) {
  uint32_t t = chromaVNumerator(sumB, sumG, sumR);
  if (t % kChromaDivisor == 0) return chromaVByDouble(sumB, sumG, sumR);
  return static_cast<uint8_t>(t / kChromaDivisor);
}

} // namespace dravnok::video
