#include "clipboard/dib.h"

#include <cstring>
#include <type_traits>

namespace dravnok::clipboard {
namespace {

template <typename T> T readLittle(std::span<const uint8_t> bytes, size_t offset) {
  T value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(static_cast<T>(bytes[offset + i]) << (8 * i));
  return value;
}

template <typename T> void writeLittle(std::span<uint8_t> bytes, size_t offset, T value) {
  auto raw = static_cast<std::make_unsigned_t<T>>(value);
  for (size_t i = 0; i < sizeof(T); ++i) bytes[offset + i] = static_cast<uint8_t>(raw >> (8 * i));
}

constexpr uint32_t kBiRgb = 0;

} // namespace

std::optional<BgraImage> dibToBgra(std::span<const uint8_t> block) {
  if (block.size() < kDibHeaderSize) return std::nullopt;
  auto headerSize = readLittle<uint32_t>(block, 0);
  auto width = static_cast<int32_t>(readLittle<uint32_t>(block, 4));
  auto height = static_cast<int32_t>(readLittle<uint32_t>(block, 8));
  auto bitCount = readLittle<uint16_t>(block, 14);
  auto compression = readLittle<uint32_t>(block, 16);
  if (headerSize < kDibHeaderSize || compression != kBiRgb || (bitCount != 24 && bitCount != 32) || width < 1 ||
      height == 0) {
    return std::nullopt;
  }
  if (headerSize > block.size()) return std::nullopt;
  const uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
  const uint64_t stride = (static_cast<uint64_t>(bitCount) * static_cast<uint64_t>(width) + 31) / 32 * 4;
  const uint64_t available = block.size() - headerSize;
  if (rows > available / stride) return std::nullopt;
  const uint64_t pixelBytes = static_cast<uint64_t>(width) * rows * 4;
  if (pixelBytes > kMaxPixelBytes) return std::nullopt;

  BgraImage image;
  image.width = width;
  image.height = static_cast<int32_t>(rows);
  image.pixels.assign(pixelBytes, 0);
  const uint8_t* source = block.data() + headerSize;
  const size_t sourceBytesPerPixel = bitCount / 8;
  bool anyAlpha = false;
  for (uint64_t y = 0; y < rows; ++y) {
    const uint64_t sourceRow = height > 0 ? rows - 1 - y : y;
    const uint8_t* in = source + sourceRow * stride;
    uint8_t* out = image.pixels.data() + y * static_cast<uint64_t>(width) * 4;
    for (int32_t x = 0; x < width; ++x, in += sourceBytesPerPixel, out += 4) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
      if (bitCount == 32) {
        out[3] = in[3];
        anyAlpha |= in[3] != 0;
      } else {
        out[3] = 255;
      }
    }
  }
  if (bitCount == 32 && !anyAlpha) {
    for (size_t i = 3; i < image.pixels.size(); i += 4) image.pixels[i] = 255;
  }
  return image;
}

std::optional<BgraImage> bmpFileToBgra(std::span<const uint8_t> file) {
  constexpr size_t kFileHeaderSize = 14;
  if (file.size() < kFileHeaderSize || file[0] != 'B' || file[1] != 'M') return std::nullopt;
  return dibToBgra(file.subspan(kFileHeaderSize));
}

size_t dibBlockSize(int32_t width, int32_t height) {
  if (width < 1 || height < 1) return 0;
  const uint64_t pixelBytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
  if (pixelBytes > kMaxPixelBytes) return 0;
  return kDibHeaderSize + pixelBytes;
}

void writeDib(std::span<uint8_t> dest, const BgraImage& image) {
  const size_t rowBytes = static_cast<size_t>(image.width) * 4;
  const auto pixelBytes = static_cast<uint32_t>(rowBytes * static_cast<size_t>(image.height));
  std::memset(dest.data(), 0, kDibHeaderSize);
  writeLittle<uint32_t>(dest, 0, kDibHeaderSize);
  writeLittle<int32_t>(dest, 4, image.width);
  writeLittle<int32_t>(dest, 8, image.height); // positive: rows bottom-up
  writeLittle<uint16_t>(dest, 12, 1);
  writeLittle<uint16_t>(dest, 14, 32);
  writeLittle<uint32_t>(dest, 16, kBiRgb);
  writeLittle<uint32_t>(dest, 20, pixelBytes);
  uint8_t* rows = dest.data() + kDibHeaderSize;
  for (int32_t i = 0; i < image.height; ++i) {
    std::memcpy(rows + static_cast<size_t>(i) * rowBytes,
                image.pixels.data() + static_cast<size_t>(image.height - 1 - i) * rowBytes, rowBytes);
  }
}

} // namespace dravnok::clipboard
