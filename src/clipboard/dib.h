#pragma once
// Device-independent bitmaps (a 40-byte info header, then the rows) and the
// top-down BGRA buffer that the PNG coders work on.
#include "clipboard/clipboard_limits.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace dravnok::clipboard {

// Rows top-down, B G R A per pixel, stride exactly width * 4.
struct BgraImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;
};

inline constexpr size_t kDibHeaderSize = 40;

// Converts an uncompressed 24- or 32-bit bitmap, bottom-up or top-down. The
// block may come from another program: its header is checked against the
// block's real size, so nothing outside `block` is ever read. A 32-bit
// bitmap whose alpha bytes are all 0 is taken as opaque.
std::optional<BgraImage> dibToBgra(std::span<const uint8_t> block);

// A BMP file: a 14-byte file header ("BM"), then a bitmap as above.
std::optional<BgraImage> bmpFileToBgra(std::span<const uint8_t> file);

// Size of the block that writeDib fills for an image of that size; 0 when
// the size is not positive or too large.
size_t dibBlockSize(int32_t width, int32_t height);

// Writes a 32-bit bottom-up bitmap: the header, then the rows.
// `dest` holds dibBlockSize(width, height) bytes.
void writeDib(std::span<uint8_t> dest, const BgraImage& image);

} // namespace dravnok::clipboard
