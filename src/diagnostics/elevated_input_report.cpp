#include "diagnostics/elevated_input_report.h"

#include <cstdio>

namespace dravnok::diagnostics {

int32_t nudgeTarget(int32_t x, int32_t left, int32_t width) { return x - left >= width - 60 ? x - 40 : x + 40; }

std::string moveMessageFor(int32_t x, int32_t y, int32_t left, int32_t top, int32_t width, int32_t height) {
  char text[96];
  std::snprintf(text, sizeof(text), "{\"type\":\"move\",\"x\":%.6f,\"y\":%.6f}", (x - left + 0.5) / width,
                (y - top + 0.5) / height);
  return text;
}

std::string elevatedInputLine(const ElevatedInputReport& r) {
  std::string log = r.relayLog;
  for (char& c : log) {
    if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 32) c = '\'';
  }
  const auto flag = [](bool b) { return b ? "true" : "false"; };
  return std::string("{\"silentElevation\":") + flag(r.silentElevation) + ",\"why\":\"" + r.why +
         "\",\"fgElevated\":" + flag(r.fgElevated) + ",\"fg\":\"" + r.fg + "\",\"cursor\":[" +
         std::to_string(r.cursorX) + "," + std::to_string(r.cursorY) + "],\"localMoved\":" + flag(r.localMoved) +
         ",\"relayReady\":" + flag(r.relayReady) + ",\"relayMoved\":" + flag(r.relayMoved) + ",\"relayLog\":\"" + log +
         "\"}\n";
}

} // namespace dravnok::diagnostics
