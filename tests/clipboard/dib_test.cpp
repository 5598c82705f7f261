// Bitmaps from other programs are untrusted: every block is exactly as long
// as asked, so that the address sanitizer catches a read past it.
#include "clipboard/dib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

using namespace dravnok::clipboard;

namespace {

struct Header {
  uint32_t size = 40;
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bitCount = 32;
  uint32_t compression = 0;
  uint32_t imageBytes = 0;
};

std::vector<uint8_t> block(const Header& h, const std::vector<uint8_t>& pixels, size_t headerBytes = 40) {
  std::vector<uint8_t> bytes(headerBytes, 0);
  auto put = [&](size_t offset, auto value) { std::memcpy(bytes.data() + offset, &value, sizeof value); };
  put(0, h.size);
  put(4, h.width);
  put(8, h.height);
  put(12, uint16_t{1});
  put(14, h.bitCount);
  put(16, h.compression);
  put(20, h.imageBytes);
  bytes.insert(bytes.end(), pixels.begin(), pixels.end());
  return bytes;
}

std::vector<uint8_t> cut(const std::vector<uint8_t>& bytes, size_t size) {
  return {bytes.begin(), bytes.begin() + size};
}

std::vector<uint8_t> bgra(std::initializer_list<uint32_t> pixels) {
  std::vector<uint8_t> out;
  for (uint32_t p : pixels) out.insert(out.end(), {uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16), uint8_t(p >> 24)});
  return out; // 0xAARRGGBB
}

} // namespace

TEST(Dib, BlocksAndBmpFilesReadAsTopDownBgraOrNotAtAll) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max(), kMin = std::numeric_limits<int32_t>::min();
  const auto one = bgra({0x11223344});
  // Width 3 at 24 bits: 9 bytes of pixels and 3 of padding per row, the bottom row first.
  const std::vector<uint8_t> rows24 = {1,  2,  3,  4,  5,  6,  7,  8,  9,  0xEE, 0xEE, 0xEE,
                                       11, 12, 13, 14, 15, 16, 17, 18, 19, 0xEE, 0xEE, 0xEE};
  struct Case {
    const char* name;
    std::vector<uint8_t> block;
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels = {}; // none expected when width is 0
  };
  const Case cases[] = {
      {"24 bits bottom-up with padding, opaque",
       block({.width = 3, .height = 2, .bitCount = 24}, rows24),
       3,
       2,
       {11, 12, 13, 255, 14, 15, 16, 255, 17, 18, 19, 255, 1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255}},
      {"32 bits with all alpha 0 is opaque", block({.width = 2}, bgra({0x00102030, 0x00405060})), 2, 1,
       bgra({0xFF102030, 0xFF405060})},
      {"32 bits alpha is kept", block({.width = 2}, bgra({0x00102030, 0x01405060})), 2, 1,
       bgra({0x00102030, 0x01405060})},
      {"top-down keeps the row order", block({.height = -2}, bgra({0x80000001, 0x80000002})), 1, 2,
       bgra({0x80000001, 0x80000002})},
      {"pixels start after a larger header", block({.size = 124}, bgra({0x7F010203}), 124), 1, 1, bgra({0x7F010203})},
      {"exactly enough bytes", block({}, one), 1, 1, bgra({0x11223344})},
      {"bit fields", block({.width = 2, .height = 2, .compression = 3}, bgra({1, 2, 3, 4}))},
      {"16 bits", block({.width = 2, .height = 2, .bitCount = 16}, bgra({1, 2, 3, 4}))},
      {"8 bits", block({.width = 2, .height = 2, .bitCount = 8}, bgra({1, 2, 3, 4}))},
      {"an old core header", block({.size = 12, .width = 2, .height = 2}, bgra({1, 2, 3, 4}))},
      {"a header of 39 bytes", block({.size = 39}, one)},
      {"width 0", block({.width = 0, .height = 2}, bgra({1, 2, 3, 4}))},
      {"height 0", block({.width = 2, .height = 0}, bgra({1, 2, 3, 4}))},
      {"fewer bytes than a header", cut(block({}, {}), 39)},
      {"nothing", {}},
      {"one byte short, bottom-up", cut(block({.height = 2}, bgra({1, 2})), 40 + 7)},
      {"one byte short, top-down", cut(block({.height = -2}, bgra({1, 2})), 40 + 7)},
      {"one byte short at 24 bits", block({.width = 3, .bitCount = 24}, std::vector<uint8_t>(11))},
      {"a header size beyond the block", block({.size = 200}, one)},
      {"a header size of 2^32 - 1", block({.size = 0xFFFFFFFF}, one)},
      {"products beyond 32 bits", block({.width = kMax, .height = kMax}, one)},
      {"products beyond 64 bits", block({.width = kMax, .height = kMin}, one)},
      {"the lowest height", block({.height = kMin}, one)},
      {"a stride beyond 32 bits", block({.width = 0x40000000, .height = 4, .bitCount = 24}, one)},
  };
  for (const Case& c : cases) {
    const auto image = dibToBgra(c.block).value_or(BgraImage{});
    EXPECT_EQ(std::tie(image.width, image.height, image.pixels), std::tie(c.width, c.height, c.pixels)) << c.name;
  }

  // BMP files are such a block after their file header.
  std::vector<uint8_t> file = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const auto dib = block({}, bgra({0x7F010203}));
  file.insert(file.end(), dib.begin(), dib.end());
  EXPECT_EQ(bmpFileToBgra(file).value_or(BgraImage{}).pixels, bgra({0x7F010203}));
  EXPECT_FALSE(bmpFileToBgra(cut(file, 13)));
  file[1] = 'X';
  EXPECT_FALSE(bmpFileToBgra(file));
}

TEST(Dib, WrittenBlockIsABottomUpThirtyTwoBitBitmapThatReadsBackTheSame) {
  const BgraImage image{2, 3, bgra({0x01000001, 0x02000002, 0x03000003, 0x04000004, 0x05000005, 0x06000006})};
  std::vector<uint8_t> dib(dibBlockSize(2, 3), 0xAA);
  writeDib(dib, image);
  EXPECT_EQ(dib, block({.width = 2, .height = 3, .imageBytes = 24},
                       bgra({0x05000005, 0x06000006, 0x03000003, 0x04000004, 0x01000001, 0x02000002})));
  EXPECT_EQ(dibToBgra(dib)->pixels, image.pixels);

  const std::tuple<int32_t, int32_t, size_t> sizes[] = {
      {0, 3, 0}, {3, -1, 0}, {1, 1, 44}, {8192, 8192, 40 + (size_t{256} << 20)}, {8192, 8193, 0}};
  for (const auto& [w, h, bytes] : sizes) EXPECT_EQ(dibBlockSize(w, h), bytes) << w << "x" << h;
}
