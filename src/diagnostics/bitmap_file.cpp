#include "diagnostics/bitmap_file.h"

#include <cstdio>
#include <memory>

namespace dravnok::diagnostics {
namespace {

void put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

} // namespace

uint32_t bitmapRowBytes(uint32_t width) { return (3 * (width + 1)) & ~3u; }

std::vector<uint8_t> encodeBitmap24(const uint8_t* pixels, int64_t pitch, uint32_t width, uint32_t height) {
  const uint32_t rowBytes = bitmapRowBytes(width);
  const uint32_t imageBytes = rowBytes * height;
  std::vector<uint8_t> out;
  out.reserve(54 + static_cast<size_t>(imageBytes));
  out.push_back('B');
  out.push_back('M');
  put32(out, 54 + imageBytes);
  put32(out, 0);
  put32(out, 54);
  put32(out, 40);
  put32(out, width);
  put32(out, height);
  put16(out, 1);
  put16(out, 24);
  put32(out, 0);
  put32(out, imageBytes);
  for (int i = 0; i < 4; ++i) put32(out, 0);
  for (uint32_t y = height; y-- > 0;) {
    const uint8_t* row = pixels + static_cast<int64_t>(y) * pitch;
    const size_t start = out.size();
    for (uint32_t x = 0; x < width; ++x) out.insert(out.end(), row + 4 * x, row + 4 * x + 3);
    out.resize(start + rowBytes, 0);
  }
  return out;
}

bool writeBitmap24(const std::string& path, const uint8_t* pixels, int64_t pitch, uint32_t width, uint32_t height) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file) return false;
  auto bytes = encodeBitmap24(pixels, pitch, width, height);
  return std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

} // namespace dravnok::diagnostics
