// Can the relay move the pointer where local injection cannot?
#include "diagnostics/elevated_input_report.h"
#include "diagnostics/modes.h"
#include "input/input_channel_handler.h"
#include "input/input_injector.h"
#include "input/input_messages.h"
#include "input/process_info.h"
#include "relay/relay_client.h"
#include "relay/silent_elevation.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace dravnok::diagnostics {

namespace {

POINT cursor() {
  POINT p{};
  GetCursorPos(&p);
  return p;
}

} // namespace

int runElevatedInputSelfTest() {
  ElevatedInputReport report;
  report.silentElevation = relay::canElevateSilently(report.why);
  uint32_t fgPid = 0;
  report.fgElevated = foregroundIsElevated(fgPid);
  report.fg = asciiProcessName(processImageName(fgPid));

  const POINT start = cursor();
  report.cursorX = start.x;
  report.cursorY = start.y;
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  GetMonitorInfoW(MonitorFromPoint(start, MONITOR_DEFAULTTOPRIMARY), &info);
  const int32_t left = info.rcMonitor.left;
  const int32_t top = info.rcMonitor.top;
  const int32_t width = info.rcMonitor.right - info.rcMonitor.left;
  const int32_t height = info.rcMonitor.bottom - info.rcMonitor.top;
  const auto move = [&](int32_t x, int32_t y) { return moveMessageFor(x, y, left, top, width, height); };

  InputInjector injector(false, width, height, left, top, 0);
  const int32_t target = nudgeTarget(start.x, left, width);
  dispatchInputMessage(injector, move(target, start.y), {});
  Sleep(150);
  const POINT moved = cursor();
  dispatchInputMessage(injector, move(start.x, start.y), {});
  Sleep(150);
  report.localMoved = std::abs(moved.x - target) < 3;

  if (report.silentElevation) {
    relay::RelayClient client([&report](const std::string& level, const std::string& text) {
      report.relayLog += "[" + level + "] " + text + " | ";
    });
    client.start(0, width, height, left, top);
    for (int i = 0; i < 100 && !client.connected(); ++i) Sleep(100);
    report.relayReady = client.connected();
    if (report.relayReady) {
      const POINT from = cursor();
      const int32_t target2 = nudgeTarget(from.x, left, width);
      client.forward(move(target2, from.y));
      Sleep(200);
      const POINT moved2 = cursor();
      client.forward(move(from.x, from.y));
      Sleep(200);
      report.relayMoved = std::abs(moved2.x - target2) < 3;
    }
    client.stop();
  }

  const std::string line = elevatedInputLine(report);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
  return report.silentElevation && report.relayReady && report.relayMoved ? 0 : 1;
}

} // namespace dravnok::diagnostics
