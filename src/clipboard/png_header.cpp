#include "clipboard/png_header.h"

#include "clipboard/clipboard_limits.h"

#include <cstdint>

namespace dravnok::clipboard {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view kSignature = "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR"sv;
constexpr size_t kHeaderEnd = 29; // signature, IHDR length and type, 13 bytes of IHDR
constexpr uint64_t kMaxDeflateRatio = 1032;

uint32_t bigEndian(std::string_view bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

// Samples per pixel of a colour type; 0 for none that exists.
uint64_t channelsOf(uint8_t colourType) {
  switch (colourType) {
  case 0:
    return 1; // grey
  case 2:
    return 3; // RGB
  case 3:
    return 1; // palette index
  case 4:
    return 2; // grey and alpha
  case 6:
    return 4; // RGBA
  default:
    return 0;
  }
}

} // namespace

bool pngSizeAcceptable(std::string_view png) {
  if (png.size() < kHeaderEnd || png.substr(0, kSignature.size()) != kSignature) return false;
  const uint64_t width = bigEndian(png, 16);
  const uint64_t height = bigEndian(png, 20);
  const uint64_t depth = static_cast<uint8_t>(png[24]);
  const uint64_t channels = channelsOf(static_cast<uint8_t>(png[25]));
  if (width == 0 || height == 0 || channels == 0 ||
      (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16))
    return false;
  if (width > kMaxImagePixels || height > kMaxImagePixels / width) return false;
  // The rows alone, without filter bytes or interlace padding, all of which
  // only add to what the compressed data must expand to.
  const uint64_t pixelDataBytes = width * height * channels * depth / 8;
  return pixelDataBytes / kMaxDeflateRatio <= png.size();
}

} // namespace dravnok::clipboard
