#pragma once
// The frame counter drawn in the screen's top-left corner: two rows of 16
// square blocks, the 16-bit value (most significant bit first) and below it
// its complement. Blocks are macroblock-sized and aligned so that a lossy
// encoder keeps them readable; the complement row rejects pictures caught
// while the counter was half drawn. bench/page_probe.js reads the same
// layout back in the browser.
#include <cstdint>
#include <optional>
#include <span>

namespace dravnok::bench {

inline constexpr int kCounterBits = 16;
inline constexpr int kCounterBlock = 16;
inline constexpr int kCounterWidth = kCounterBits * kCounterBlock;
inline constexpr int kCounterHeight = 2 * kCounterBlock;

// Whether block `column` (0 = left) of `row` (0 = value, 1 = complement) is
// lit for `value`.
bool counterBlockLit(uint16_t value, int row, int column);

// Reads the counter from BGRA pixels of at least kCounterWidth x
// kCounterHeight starting at `pixels` with `pitch` bytes per row. Each block
// is judged by the mean brightness of its central 8x8 pixels. Nothing when
// the two rows disagree.
std::optional<uint16_t> readCounter(std::span<const uint8_t> pixels, int pitch);

} // namespace dravnok::bench
