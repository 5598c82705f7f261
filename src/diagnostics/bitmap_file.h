#pragma once
// 24-bit bottom-up BMP files of BGRA images, as the self-tests write them.
#include <cstdint>
#include <string>
#include <vector>

namespace dravnok::diagnostics {

// Bytes of one BMP row: 3 x (width + 1) with the two lowest bits cleared.
uint32_t bitmapRowBytes(uint32_t width);

// The whole file: headers, then the rows from the last to the first, alpha
// dropped, each padded with zeros.
std::vector<uint8_t> encodeBitmap24(const uint8_t* pixels, int64_t pitch, uint32_t width, uint32_t height);

// False when the file cannot be opened or written.
bool writeBitmap24(const std::string& path, const uint8_t* pixels, int64_t pitch, uint32_t width, uint32_t height);

} // namespace dravnok::diagnostics
