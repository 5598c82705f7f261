#include "capture/monitor_info.h"

#include <algorithm>

namespace dravnok::capture {

void sortMonitors(std::vector<MonitorInfo>& monitors) {
  std::stable_sort(monitors.begin(), monitors.end(), [](const MonitorInfo& a, const MonitorInfo& b) {
    if (a.primary != b.primary) return a.primary;
    return a.left < b.left;
  });
}

void ensureOnePrimary(std::vector<MonitorInfo>& monitors) {
  if (monitors.empty()) return;
  if (std::any_of(monitors.begin(), monitors.end(), [](const MonitorInfo& m) { return m.primary; })) return;
  auto atOrigin = std::find_if(monitors.begin(), monitors.end(), [](const MonitorInfo& m) { return m.contains(0, 0); });
  (atOrigin != monitors.end() ? *atOrigin : monitors.front()).primary = true;
}

int monitorAtOrigin(const std::vector<MonitorInfo>& monitors, int32_t left, int32_t top) {
  for (size_t i = 0; i < monitors.size(); ++i) {
    if (monitors[i].left == left && monitors[i].top == top) return static_cast<int>(i);
  }
  return 0;
}

MonitorInfo monitorOr(const std::vector<MonitorInfo>& monitors, int index, const MonitorInfo& fallback) {
  if (index < 0 || static_cast<size_t>(index) >= monitors.size()) return fallback;
  return monitors[static_cast<size_t>(index)];
}

} // namespace dravnok::capture
