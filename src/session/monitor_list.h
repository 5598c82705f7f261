#pragma once
// The "monitors" message that tells the viewer which monitors exist and
// which one is shown.
#include "capture/monitor_info.h"

#include <span>
#include <string>

namespace dravnok {

std::string buildMonitorListMessage(std::span<const capture::MonitorInfo> monitors, int currentMonitor);

} // namespace dravnok
