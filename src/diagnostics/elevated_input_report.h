#pragma once
// The pieces of --selftest-elevated-input that do not touch the desktop: the
// pointer nudge, the move messages and the one output line.
#include <cstdint>
#include <string>

namespace dravnok::diagnostics {

struct ElevatedInputReport {
  bool silentElevation = false;
  std::string why;
  bool fgElevated = false;
  std::string fg;
  long cursorX = 0;
  long cursorY = 0;
  bool localMoved = false;
  bool relayReady = false;
  bool relayMoved = false;
  std::string relayLog;
};

// 40 px to the right of `x`, or to the left near the monitor's right edge.
int32_t nudgeTarget(int32_t x, int32_t left, int32_t width);

// {"type":"move","x":X,"y":Y} for desktop pixel (x, y) on the monitor.
std::string moveMessageFor(int32_t x, int32_t y, int32_t left, int32_t top, int32_t width, int32_t height);

// The JSON line, newline included. The log text is made safe to print
// inside a JSON string by turning quotes, backslashes and control
// characters into apostrophes.
std::string elevatedInputLine(const ElevatedInputReport& report);

} // namespace dravnok::diagnostics
