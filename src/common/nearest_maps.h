#pragma once
// Nearest-neighbour sampling maps from a source size to an output size.
#include <array>
#include <cstdint>
#include <vector>

namespace dravnok {

struct NearestMaps {
  // Per output column: byte offset of the source pixel in its row.
  std::vector<int32_t> columns;
  // Per output row: the source row.
  std::vector<int32_t> rows;
  // (source width, source height, output width, output height) of the maps.
  std::array<uint32_t, 4> key{};

  // Rebuilds the maps when the sizes differ from the last ones.
  void update(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t outputWidth, uint32_t outputHeight);
  // Every output column reads the source column of the same index.
  bool columnsAreIdentity() const { return identityColumns; }

private:
  bool identityColumns = false;
};

// min(floor(index * source / output), source - 1), in 32-bit arithmetic.
int32_t nearestSourceIndex(uint32_t index, uint32_t source, uint32_t output);

} // namespace dravnok
