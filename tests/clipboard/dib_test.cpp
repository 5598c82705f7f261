#include "clipboard/dib.h"

#include <gtest/gtest.h>

#include <array>

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
};

// A block exactly as long as asked, so that a read past it is caught by the
// address sanitizer.
std::vector<uint8_t> block(const Header& h, const std::vector<uint8_t>& pixels, size_t headerBytes = 40) {
  std::array<uint8_t, 40> header{};
  auto put = [&](size_t offset, auto value) { std::memcpy(header.data() + offset, &value, sizeof value); };
  put(0, h.size);
  put(4, h.width);
  put(8, h.height);
  put(12, uint16_t{1});
  put(14, h.bitCount);
  put(16, h.compression);
  std::vector<uint8_t> bytes(headerBytes + pixels.size(), 0);
  std::memcpy(bytes.data(), header.data(), std::min(headerBytes, header.size()));
  std::copy(pixels.begin(), pixels.end(), bytes.begin() + static_cast<std::ptrdiff_t>(headerBytes));
  return bytes;
}

// The first `size` bytes, in an allocation of exactly that size.
std::vector<uint8_t> cut(const std::vector<uint8_t>& bytes, size_t size) {
  return {bytes.begin(), bytes.begin() + size};
}

std::vector<uint8_t> bgra(std::initializer_list<uint32_t> pixels) {
  std::vector<uint8_t> out;
  for (uint32_t p : pixels) { // 0xAARRGGBB
    out.insert(out.end(), {uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16), uint8_t(p >> 24)});
  }
  return out;
}

} // namespace

TEST(Dib, TwentyFourBitBottomUpWithRowPaddingReadsTopDownAndOpaque) {
  // Width 3: 9 bytes of pixels and 3 of padding per row; the bottom row first.
  std::vector<uint8_t> rows = {1,  2,  3,  4,  5,  6,  7,  8,  9,  0xEE, 0xEE, 0xEE, //
                               11, 12, 13, 14, 15, 16, 17, 18, 19, 0xEE, 0xEE, 0xEE};
  auto image = dibToBgra(block({.width = 3, .height = 2, .bitCount = 24}, rows));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 3);
  EXPECT_EQ(image->height, 2);
  EXPECT_EQ(image->pixels, (std::vector<uint8_t>{11, 12, 13, 255, 14, 15, 16, 255, 17, 18, 19, 255, //
                                                 1,  2,  3,  255, 4,  5,  6,  255, 7,  8,  9,  255}));
}

TEST(Dib, ThirtyTwoBitAlphaIsKeptUnlessItIsAllZero) {
  auto opaque = dibToBgra(block({.width = 2, .height = 1}, bgra({0x00102030, 0x00405060})));
  ASSERT_TRUE(opaque);
  EXPECT_EQ(opaque->pixels, bgra({0xFF102030, 0xFF405060}));

  auto translucent = dibToBgra(block({.width = 2, .height = 1}, bgra({0x00102030, 0x01405060})));
  ASSERT_TRUE(translucent);
  EXPECT_EQ(translucent->pixels, bgra({0x00102030, 0x01405060}));
}

TEST(Dib, TopDownKeepsRowOrderAndALargerHeaderIsSkipped) {
  auto image = dibToBgra(block({.width = 1, .height = -2}, bgra({0x80000001, 0x80000002})));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->pixels, bgra({0x80000001, 0x80000002}));

  // A 124-byte header: pixels start right after it.
  auto v5 = dibToBgra(block({.size = 124, .width = 1, .height = 1}, bgra({0x7F010203}), 124));
  ASSERT_TRUE(v5);
  EXPECT_EQ(v5->pixels, bgra({0x7F010203}));
}

TEST(Dib, UnsupportedFormsGiveNoImage) {
  const auto pixels = bgra({1, 2, 3, 4});
  EXPECT_FALSE(dibToBgra(block({.width = 2, .height = 2, .compression = 3}, pixels))); // bit fields
  EXPECT_FALSE(dibToBgra(block({.width = 2, .height = 2, .bitCount = 16}, pixels)));
  EXPECT_FALSE(dibToBgra(block({.width = 2, .height = 2, .bitCount = 8}, pixels)));
  EXPECT_FALSE(dibToBgra(block({.size = 12, .width = 2, .height = 2}, pixels))); // old core header
  EXPECT_FALSE(dibToBgra(block({.width = 0, .height = 2}, pixels)));
  EXPECT_FALSE(dibToBgra(block({.width = 2, .height = 0}, pixels)));
}

TEST(Dib, HeadersThatDoNotFitTheBlockAreRejectedWithoutReadingPastIt) {
  const auto one = bgra({0x11223344});
  // Fewer bytes than a header.
  EXPECT_FALSE(dibToBgra(cut(block({}, {}), 39)));
  EXPECT_FALSE(dibToBgra({}));
  // One byte short of the last row, top-down and bottom-up, 24 and 32 bits.
  EXPECT_FALSE(dibToBgra(cut(block({.width = 1, .height = 2}, bgra({1, 2})), 40 + 7)));
  EXPECT_FALSE(dibToBgra(cut(block({.width = 1, .height = -2}, bgra({1, 2})), 40 + 7)));
  EXPECT_FALSE(dibToBgra(block({.width = 3, .height = 1, .bitCount = 24}, std::vector<uint8_t>(11))));
  // A header size beyond the block.
  EXPECT_FALSE(dibToBgra(block({.size = 200}, one)));
  EXPECT_FALSE(dibToBgra(block({.size = 0xFFFFFFFF}, one)));
  // Sizes whose products overflow 32 or 64 bits.
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  EXPECT_FALSE(dibToBgra(block({.width = kMax, .height = kMax}, one)));
  EXPECT_FALSE(dibToBgra(block({.width = kMax, .height = kMin}, one)));
  EXPECT_FALSE(dibToBgra(block({.width = 1, .height = kMin}, one)));
  EXPECT_FALSE(dibToBgra(block({.width = 0x40000000, .height = 4, .bitCount = 24}, one)));
  // Exactly enough bytes is fine.
  EXPECT_TRUE(dibToBgra(block({.width = 1, .height = 1}, one)));
}

TEST(Dib, WrittenBlockIsABottomUpThirtyTwoBitBitmapThatReadsBackTheSame) {
  BgraImage image{2, 3, bgra({0x01000001, 0x02000002, 0x03000003, 0x04000004, 0x05000005, 0x06000006})};
  const size_t size = dibBlockSize(2, 3);
  ASSERT_EQ(size, 40u + 2 * 3 * 4);
  std::vector<uint8_t> dib(size);
  writeDib(dib, image);
  auto field = [&](size_t offset, auto value) {
    std::memcpy(&value, dib.data() + offset, sizeof value);
    return value;
  };
  EXPECT_EQ(field(0, uint32_t{}), 40u);
  EXPECT_EQ(field(4, int32_t{}), 2);
  EXPECT_EQ(field(8, int32_t{}), 3);
  EXPECT_EQ(field(12, uint16_t{}), 1);
  EXPECT_EQ(field(14, uint16_t{}), 32);
  EXPECT_EQ(field(16, uint32_t{}), 0u);
  EXPECT_EQ(field(20, uint32_t{}), 24u);
  for (size_t offset = 24; offset < 40; offset += 4) EXPECT_EQ(field(offset, uint32_t{}), 0u);
  EXPECT_EQ(dib[40], 0x05); // the bottom row comes first
  auto back = dibToBgra(dib);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->pixels, image.pixels);

  EXPECT_EQ(dibBlockSize(0, 3), 0u);
  EXPECT_EQ(dibBlockSize(3, -1), 0u);
  EXPECT_EQ(dibBlockSize(0x10000, 0x10000), 0u); // 16 GiB of pixels
}
