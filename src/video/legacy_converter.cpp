#include "video/legacy_converter.h"

#include "common/nearest_maps.h"
#include "video/colour_formulas.h"

#include <algorithm>
#include <cstddef>

namespace dravnok::video {

void convertLegacy(const uint8_t* source, int32_t pitch, uint32_t sourceWidth, uint32_t sourceHeight, int destWidth,
                   int destHeight, uint8_t* dest) {
  const int width = evenAtLeastTwo(destWidth);
  const int height = evenAtLeastTwo(destHeight);
  auto pixel = [&](int x, int y) {
    int column = nearestSourceIndex(static_cast<uint32_t>(std::min(x, width - 1)), sourceWidth, width);
    int row = nearestSourceIndex(static_cast<uint32_t>(std::min(y, height - 1)), sourceHeight, height);
    return source + static_cast<ptrdiff_t>(row) * pitch + static_cast<ptrdiff_t>(column) * 4;
  };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = pixel(x, y);
      dest[static_cast<size_t>(y) * width + x] = lumaByDouble(p[0], p[1], p[2]);
    }
  }
  uint8_t* chroma = dest + static_cast<size_t>(width) * height;
  for (int y = 0; y < height; y += 2) {
    for (int x = 0; x < width; x += 2) {
      uint32_t sumB = 0, sumG = 0, sumR = 0;
      for (auto [dx, dy] : {std::pair{0, 0}, std::pair{1, 0}, std::pair{0, 1}, std::pair{1, 1}}) {
        const uint8_t* p = pixel(x + dx, y + dy);
        sumB += p[0];
        sumG += p[1];
        sumR += p[2];
      }
      uint8_t* uv = chroma + static_cast<size_t>(y / 2) * width + x;
      uv[0] = chromaUByDouble(sumB, sumG, sumR);
      uv[1] = chromaVByDouble(sumB, sumG, sumR);
    }
  }
}

} // namespace dravnok::video
