#include "clipboard/png_header.h"

#include <gtest/gtest.h>

#include <string>

using namespace dravnok::clipboard;

namespace {

std::string bigEndian(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

// Without its check sum, which the header check does not read.
std::string chunk(std::string_view type, std::string_view body) {
  return bigEndian(static_cast<uint32_t>(body.size())) + std::string(type) + std::string(body) + bigEndian(0);
}

// A PNG that declares the size and form, padded with image data to `bytes`.
std::string declaring(uint32_t width, uint32_t height, char depth, char colourType, size_t bytes = 0) {
  std::string png = "\x89PNG\r\n\x1a\n" +
                    chunk("IHDR", bigEndian(width) + bigEndian(height) + std::string{depth, colourType, 0, 0, 0});
  png += chunk("IDAT", std::string(bytes > png.size() + 24 ? bytes - png.size() - 24 : 2, '\0'));
  return png + chunk("IEND", "");
}

} // namespace

TEST(PngHeader, DeclaredSizeMustFitThePixelBudgetAndTheFileSize) {
  struct Case {
    std::string png;
    bool acceptable;
  };
  const Case cases[] = {
      // 4 000 000 bytes of RGBA rows need 4 000 000 / 1032 bytes of deflate,
      // 3 000 000 of RGB 2906, 2 000 000 of grey and alpha 1937.
      {declaring(1000, 1000, 8, 6, 3875), true},
      {declaring(1000, 1000, 8, 6, 3874), false},
      {declaring(1000, 1000, 8, 2, 2906), true},
      {declaring(1000, 1000, 8, 4, 1937), true},
      // Every depth there is, and no other.
      {declaring(10, 10, 2, 0), true},
      {declaring(10, 10, 4, 0), true},
      {declaring(10, 10, 16, 6), true},
      {declaring(10, 10, 3, 0), false},
      {declaring(10, 10, 17, 0), false},
      // The widest picture there may be, one row high.
      {declaring(1 << 26, 1, 1, 0, 8200), true},
      // The header alone is enough to judge.
      {declaring(1, 1, 8, 6).substr(0, 29), true},
      // One bit per pixel: 64 Mi pixels are 8 MiB of rows.
      {declaring(8192, 8192, 1, 0, 8200), true},
      {declaring(8192, 8193, 1, 0, 1 << 20), false},
      {declaring(16384, 16384, 8, 6), false},
      {declaring(0, 10, 8, 6), false},
      {declaring(10, 10, 8, 5), false},
      {"GIF89a" + declaring(10, 10, 8, 6).substr(6), false},
      {declaring(10, 10, 8, 6).substr(0, 28), false},
  };
  for (const Case& c : cases) EXPECT_EQ(pngSizeAcceptable(c.png), c.acceptable) << testing::PrintToString(c.png);
}
