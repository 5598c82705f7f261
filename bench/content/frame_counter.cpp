#include "frame_counter.h"

namespace dravnok::bench {

bool counterBlockLit(uint16_t value, int row, int column) {
  const bool bit = ((value >> (kCounterBits - 1 - column)) & 1) != 0;
  return row == 0 ? bit : !bit;
}

std::optional<uint16_t> readCounter(std::span<const uint8_t> pixels, int pitch) {
  if (pitch < kCounterWidth * 4 ||
      pixels.size() < static_cast<size_t>(pitch) * (kCounterHeight - 1) + kCounterWidth * 4)
    return std::nullopt;
  uint32_t rows[2] = {0, 0};
  for (int row = 0; row < 2; ++row) {
    for (int column = 0; column < kCounterBits; ++column) {
      uint32_t sum = 0;
      const int top = row * kCounterBlock + kCounterBlock / 4;
      const int left = column * kCounterBlock + kCounterBlock / 4;
      for (int y = top; y < top + kCounterBlock / 2; ++y) {
        const uint8_t* p = pixels.data() + static_cast<size_t>(y) * pitch + static_cast<size_t>(left) * 4;
        for (int x = 0; x < kCounterBlock / 2; ++x, p += 4) sum += p[0] + p[1] + p[2];
      }
      const uint32_t samples = 3 * (kCounterBlock / 2) * (kCounterBlock / 2);
      rows[row] = (rows[row] << 1) | (sum >= 128 * samples ? 1u : 0u);
    }
  }
  if ((rows[0] ^ rows[1]) != 0xFFFF) return std::nullopt;
  return static_cast<uint16_t>(rows[0]);
}

} // namespace dravnok::bench
