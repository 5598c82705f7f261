#pragma once
// Column tables for reading a scaled row with whole-register loads: each
// group of eight output columns reads one or two 8-pixel windows of the
// source row and picks its pixels out of them.
#include <cstdint>
#include <span>
#include <vector>

namespace dravnok::video {

struct ColumnWindows {
  // Loads per group (1 or 2); 0 when some group needs more, or the row is
  // narrower than one step.
  int loads = 0;
  // Per group: byte offset of the window in the source row.
  std::vector<int32_t> starts;
  // Per group, eight entries: the pixel's index in its 8-pixel window, with
  // bit 31 set when it comes from the second window.
  std::vector<int32_t> lanes;
};

// Output columns are converted 16 at a time; the last step starts at
// width - 16 and may overlap the one before it. Group 2k and 2k + 1 are
// the two halves of step k.
inline constexpr int kColumnsPerStep = 16;
inline int columnSteps(int width) {
  return width < kColumnsPerStep ? 0 : (width + kColumnsPerStep - 1) / kColumnsPerStep;
}
inline int stepStart(int step, int width) {
  return step * kColumnsPerStep < width - kColumnsPerStep ? step * kColumnsPerStep : width - kColumnsPerStep;
}

// `columns` holds the byte offset of each output column's source pixel.
ColumnWindows buildColumnWindows(std::span<const int32_t> columns, uint32_t sourceWidth);

} // namespace dravnok::video
