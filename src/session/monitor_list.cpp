#include "session/monitor_list.h"

namespace dravnok {

std::string buildMonitorListMessage(std::span<const capture::MonitorInfo> monitors, int currentMonitor) {
  // Built by hand: the viewer relies on this exact member order.
  std::string message = R"({"type":"monitors","clip":true,"clipwatch":true,"active":)";
  message += std::to_string(currentMonitor);
  message += R"(,"count":)" + std::to_string(monitors.size()) + R"(,"list":[)";
  for (size_t i = 0; i < monitors.size(); ++i) {
    if (i > 0) message += ',';
    message += R"({"i":)" + std::to_string(i) + R"(,"w":)" + std::to_string(monitors[i].width) + R"(,"h":)" +
               std::to_string(monitors[i].height) + R"(,"primary":)" + (monitors[i].primary ? "true" : "false") + "}";
  }
  return message + "]}";
}

} // namespace dravnok
