#include "video/column_windows.h"

#include <algorithm>

namespace dravnok::video {

ColumnWindows buildColumnWindows(std::span<const int32_t> columns, uint32_t sourceWidth) {
  ColumnWindows windows;
  const int width = static_cast<int>(columns.size());
  const int steps = columnSteps(width);
  if (steps == 0) return windows;
  const auto lowest = [&](int first) {
    int32_t low = columns[first] / 4;
    for (int i = 1; i < 8; ++i) low = std::min(low, columns[first + i] / 4);
    return low;
  };
  int32_t span = 0;
  for (int step = 0; step < steps; ++step) {
    for (int half = 0; half < 2; ++half) {
      const int first = stepStart(step, width) + 8 * half;
      const int32_t low = lowest(first);
      for (int i = 0; i < 8; ++i) span = std::max(span, columns[first + i] / 4 - low + 1);
    }
  }
  const int loads = span <= 8 ? 1 : 2;
  const int32_t reach = 8 * loads;
  if (span > 16 || static_cast<int64_t>(sourceWidth) < reach) return windows;
  windows.starts.reserve(static_cast<size_t>(steps) * 2);
  windows.lanes.reserve(static_cast<size_t>(steps) * 16);
  for (int step = 0; step < steps; ++step) {
    for (int half = 0; half < 2; ++half) {
      const int first = stepStart(step, width) + 8 * half;
      // The windows must lie inside the row: near its end they start
      // earlier than the group's first pixel.
      const int32_t start = std::min(lowest(first), static_cast<int32_t>(sourceWidth) - reach);
      windows.starts.push_back(4 * start);
      for (int i = 0; i < 8; ++i) {
        const uint32_t pixel = static_cast<uint32_t>(columns[first + i] / 4 - start);
        windows.lanes.push_back(static_cast<int32_t>(pixel < 8 ? pixel : (pixel - 8) | 0x80000000u));
      }
    }
  }
  windows.loads = loads;
  return windows;
}

} // namespace dravnok::video
