#include "clipboard/png_codec.h"

#include "clipboard/clipboard.h"
#include "clipboard/png_header.h"

#include <climits>
#include <png.h>

namespace dravnok::clipboard {

std::optional<BgraImage> decodePng(std::string_view png) {
  if (!pngSizeAcceptable(png)) return std::nullopt;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return std::nullopt;
  image.format = PNG_FORMAT_BGRA;
  const uint64_t rowBytes = static_cast<uint64_t>(image.width) * 4;
  const uint64_t bytes = rowBytes * image.height;
  if (image.width == 0 || image.height == 0 || rowBytes > INT32_MAX || image.height > INT32_MAX ||
      bytes > kMaxPixelBytes) {
    png_image_free(&image);
    return std::nullopt;
  }
  BgraImage result;
  result.width = static_cast<int32_t>(image.width);
  result.height = static_cast<int32_t>(image.height);
  result.pixels.resize(bytes);
  if (!png_image_finish_read(&image, nullptr, result.pixels.data(), static_cast<png_int_32>(rowBytes), nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  return result;
}

std::string encodePng(int32_t width, int32_t height, std::span<const uint8_t> pixels) {
  if (width < 1 || height < 1 || static_cast<uint64_t>(width) * 4 > INT32_MAX) return {};
  if (pixels.size() != static_cast<uint64_t>(width) * 4 * static_cast<uint64_t>(height)) return {};
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_BGRA;
  png_alloc_size_t size = 0;
  if (!png_image_write_get_memory_size(image, size, 0, pixels.data(), 0, nullptr)) return {};
  std::string out(size, '\0');
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr)) return {};
  out.resize(size);
  return out;
}

} // namespace dravnok::clipboard
