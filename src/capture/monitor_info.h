#pragma once
// The monitors of the desktop, in the order the viewer numbers them.
#include <cstdint>
#include <vector>

namespace dravnok::capture {

struct MonitorInfo {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool primary = false;

  bool contains(int32_t x, int32_t y) const {
    return x >= left && y >= top && int64_t{x} < int64_t{left} + width && int64_t{y} < int64_t{top} + height;
  }
  friend bool operator==(const MonitorInfo&, const MonitorInfo&) = default;
};

// Primary first, then the others by ascending left.
void sortMonitors(std::vector<MonitorInfo>& monitors);

// For systems that may mark no monitor primary: the one holding the desktop
// origin counts as primary, else the first. Leaves a marked list unchanged.
void ensureOnePrimary(std::vector<MonitorInfo>& monitors);

// The monitor at `index`, or `fallback` when the list has none there (a
// capture that fell back to the whole screen may have no list at all).
MonitorInfo monitorOr(const std::vector<MonitorInfo>& monitors, int index, const MonitorInfo& fallback);

// Index of the first monitor whose top-left corner is (left, top), else 0.
int monitorAtOrigin(const std::vector<MonitorInfo>& monitors, int32_t left, int32_t top);

} // namespace dravnok::capture
