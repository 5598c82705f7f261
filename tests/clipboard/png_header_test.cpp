#include "clipboard/png_codec.h"
#include "clipboard/png_header.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <string>

using namespace dravnok::clipboard;

namespace {

std::string bigEndian(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

uint32_t crc32(std::string_view bytes) {
  uint32_t c = 0xFFFFFFFF;
  for (unsigned char b : bytes) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320 ^ (c >> 1) : c >> 1;
  }
  return ~c;
}

std::string chunk(std::string_view type, std::string_view body) {
  std::string typed = std::string(type) + std::string(body);
  return bigEndian(static_cast<uint32_t>(body.size())) + typed + bigEndian(crc32(typed));
}

// A PNG that declares the size and form, padded with image data to `bytes`.
std::string declaring(uint32_t width, uint32_t height, char depth, char colourType, size_t bytes = 0) {
  std::string png = "\x89PNG\r\n\x1a\n" +
                    chunk("IHDR", bigEndian(width) + bigEndian(height) + std::string{depth, colourType, 0, 0, 0});
  png += chunk("IDAT", std::string(bytes > png.size() + 24 ? bytes - png.size() - 24 : 2, '\0'));
  return png + chunk("IEND", "");
}

size_t peakMemory() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PeakWorkingSetSize;
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<size_t>(usage.ru_maxrss) * 1024;
#endif
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

TEST(PngHeader, ASmallFileDeclaringAHugePictureAllocatesNothing) {
  // Within the pixel budget: only its size gives it away.
  const std::string png = declaring(8192, 8192, 8, 6);
  ASSERT_LT(png.size(), 100u);
  const size_t before = peakMemory();
  EXPECT_FALSE(decodePng(png));
  // Its pixel buffer would be 256 MiB.
  EXPECT_LT(peakMemory() - before, size_t{64} << 20);
}
