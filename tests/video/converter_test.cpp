#include "video/colour_formulas.h"
#include "video/fast_converter.h"
#include "video/legacy_converter.h"
#include "video/nv12_converter.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

using namespace dravnok::video;

namespace {

struct Image {
  uint32_t width, height;
  int32_t pitch;
  std::vector<uint8_t> bytes;
  uint8_t* pixel(uint32_t x, uint32_t y) { return bytes.data() + static_cast<size_t>(y) * pitch + 4 * x; }
};

// Rows padded beyond width x 4, as a mapped texture's are.
Image randomImage(uint32_t width, uint32_t height, uint32_t seed) {
  Image image{width, height, static_cast<int32_t>(width * 4 + 12), {}};
  image.bytes.resize(static_cast<size_t>(image.pitch) * height);
  std::mt19937 random(seed);
  for (auto& byte : image.bytes) byte = static_cast<uint8_t>(random());
  return image;
}

std::vector<uint8_t> legacyOf(const Image& image, int width, int height) {
  std::vector<uint8_t> out(nv12Size(width, height));
  convertLegacy(image.bytes.data(), image.pitch, image.width, image.height, width, height, out.data());
  return out;
}

std::vector<uint8_t> fastOf(const Image& image, int width, int height, SimdLevel level, int threads = 1) {
  std::vector<uint8_t> out(nv12Size(width, height), 0xEE);
  FastConverter converter(threads, level);
  converter.convert(image.bytes.data(), image.pitch, image.width, image.height, width, height, out.data());
  return out;
}

// Every level this CPU runs, each on one thread and on several.
void expectFastMatchesLegacy(const Image& image, int width, int height) {
  auto expected = legacyOf(image, width, height);
  for (SimdLevel level : supportedSimdLevels()) {
    for (int threads : {1, 3}) {
      // Not EXPECT_EQ: a failure would print every byte.
      EXPECT_TRUE(fastOf(image, width, height, level, threads) == expected)
          << simdLevelName(level) << " threads=" << threads << " " << image.width << "x" << image.height << " -> "
          << width << "x" << height;
    }
  }
}

} // namespace

// Each channel on its own pins its coefficients: a swapped channel or
// chroma plane changes these bytes in every converter.
TEST(ColourConversion, BlackWhiteAndEachPrimaryGiveTheirLimitedRangeValues) {
  // B, G, R in; Y, U, V out.
  // clang-format off
  const std::array<uint8_t, 6> colours[] = {{0, 0, 0, 16, 128, 128}, {255, 255, 255, 235, 128, 128},
      {0, 0, 255, 63, 102, 240}, {0, 255, 0, 173, 42, 26}, {255, 0, 0, 32, 240, 118}};
  // clang-format on
  for (const auto& [b, g, r, y, u, v] : colours) {
    Image image{64, 2, 256, {}}; // wide enough for every vector width
    std::vector<uint8_t> expected(128, y);
    for (int i = 0; i < 128; ++i) image.bytes.insert(image.bytes.end(), {b, g, r, 0xFF});
    for (int i = 0; i < 32; ++i) expected.insert(expected.end(), {u, v});
    // The legacy converter's output, then the fast one's at every level.
    std::vector<std::vector<uint8_t>> outputs{legacyOf(image, 64, 2)};
    for (SimdLevel level : supportedSimdLevels()) outputs.push_back(fastOf(image, 64, 2, level));
    for (const auto& out : outputs)
      EXPECT_TRUE(out == expected) << "output " << &out - outputs.data() << " gives Y U V " << int(out[0]) << " "
                                   << int(out[128]) << " " << int(out[129]) << " for BGR " << int(b) << " " << int(g)
                                   << " " << int(r);
  }
}

// Every BGR triple once: the whole domain of the luma formula, in every
// SIMD lane position and both rows of a pair.
TEST(ColourConversion, FastEqualsLegacyForEveryColour) {
  Image image{4096, 4096, 4096 * 4, std::vector<uint8_t>(size_t(4096) * 4096 * 4)};
  for (uint32_t i = 0; i < (1u << 24); ++i) {
    const uint32_t bgra = i | 0xFF000000u; // B, G, R, A in memory on a little-endian machine
    std::memcpy(image.bytes.data() + size_t(i) * 4, &bgra, 4);
  }
  auto expected = legacyOf(image, 4096, 4096);
  for (SimdLevel level : supportedSimdLevels())
    EXPECT_TRUE(fastOf(image, 4096, 4096, level, 2) == expected) << simdLevelName(level);
}

// A 2x2 block (per pixel pair of columns) for every channel-sum triple on
// which a chroma formula lies exactly halfway, and the sums next to it.
TEST(ColourConversion, FastEqualsLegacyOnEveryChromaHalfwayPoint) {
  std::vector<std::array<uint32_t, 3>> sums;
  for (uint32_t b = 0; b <= 1020; ++b) {
    for (uint32_t g = 0; g <= 1020; ++g) {
      for (uint32_t r = 0; r <= 1020; ++r) {
        if (chromaUNumerator(b, g, r) % kChromaDivisor == 0 || chromaVNumerator(b, g, r) % kChromaDivisor == 0) {
          sums.push_back({b, g, r});
          if (r < 1020) sums.push_back({b, g, r + 1});
        }
      }
    }
  }
  ASSERT_GT(sums.size(), 10000u);
  // Each triple spread over four pixels: top-left, top-right, bottom-left, bottom-right.
  const uint32_t blocksPerRow = 512;
  const uint32_t rows = static_cast<uint32_t>((sums.size() + blocksPerRow - 1) / blocksPerRow);
  Image image{blocksPerRow * 2, rows * 2, static_cast<int32_t>(blocksPerRow * 8), {}};
  image.bytes.assign(static_cast<size_t>(image.pitch) * image.height, 0);
  for (size_t i = 0; i < sums.size(); ++i) {
    uint32_t x = static_cast<uint32_t>(i % blocksPerRow) * 2, y = static_cast<uint32_t>(i / blocksPerRow) * 2;
    for (int channel = 0; channel < 3; ++channel) {
      uint32_t total = sums[i][channel];
      uint8_t* corners[4] = {image.pixel(x, y), image.pixel(x + 1, y), image.pixel(x, y + 1),
                             image.pixel(x + 1, y + 1)};
      for (int corner = 0; corner < 4; ++corner) {
        uint32_t part = std::min(total, 255u);
        corners[corner][channel] = static_cast<uint8_t>(part);
        total -= part;
      }
    }
  }
  expectFastMatchesLegacy(image, static_cast<int>(image.width), static_cast<int>(image.height));
}

// Random pictures of odd and even sizes at their own size (made even) and
// scaled; large screens down to the encode size; and scale factors that read
// each group of output columns through one window, through two, or by
// gathering, with output widths that are and are not a whole number of
// 16-column steps.
TEST(ColourConversion, FastEqualsLegacyOnRandomPicturesAtEveryKindOfScale) {
  const std::tuple<uint32_t, uint32_t, int, int> cases[] = {{2, 2, 2, 2},
                                                            {3, 3, 2, 2},
                                                            {17, 5, 16, 4},
                                                            {33, 9, 32, 8},
                                                            {64, 64, 64, 64},
                                                            {101, 77, 100, 76},
                                                            {1366, 768, 1366, 768},
                                                            {101, 77, 38, 22},
                                                            {1366, 768, 38, 22},
                                                            {2560, 1440, 1920, 1080},
                                                            {3840, 2160, 1920, 1080},
                                                            {1000, 6, 1366, 8},
                                                            {1920, 6, 1366, 8},
                                                            {1366, 6, 1024, 8},
                                                            {3000, 6, 1920, 8},
                                                            {1920, 6, 640, 8},
                                                            {20, 6, 18, 8},
                                                            {17, 6, 16, 8},
                                                            {16, 6, 34, 8},
                                                            {5, 6, 64, 8}};
  uint32_t seed = 1;
  for (const auto& [sourceWidth, sourceHeight, width, height] : cases)
    expectFastMatchesLegacy(randomImage(sourceWidth, sourceHeight, seed++), width, height);
}
