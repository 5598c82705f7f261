#include "common/nearest_maps.h"

#include <algorithm>

namespace dravnok {

int32_t nearestSourceIndex(uint32_t index, uint32_t source, uint32_t output) {
  return static_cast<int32_t>(std::min(index * source / output, source - 1));
}

void NearestMaps::update(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t outputWidth, uint32_t outputHeight) {
  std::array<uint32_t, 4> wanted{sourceWidth, sourceHeight, outputWidth, outputHeight};
  if (wanted == key && columns.size() == outputWidth) return;
  columns.resize(outputWidth);
  rows.resize(outputHeight);
  identityColumns = true;
  for (uint32_t x = 0; x < outputWidth; ++x) {
    int32_t column = nearestSourceIndex(x, sourceWidth, outputWidth);
    identityColumns = identityColumns && column == static_cast<int32_t>(x);
    columns[x] = 4 * column;
  }
  for (uint32_t y = 0; y < outputHeight; ++y) rows[y] = nearestSourceIndex(y, sourceHeight, outputHeight);
  key = wanted;
}

} // namespace dravnok
