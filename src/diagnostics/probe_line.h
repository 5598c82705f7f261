#pragma once
// The per-output line of the display probe.
#include <cstdint>
#include <string>

namespace dravnok::diagnostics {

struct ProbeResult {
  unsigned adapter = 0;
  std::string adapterName;
  unsigned output = 0;
  bool attached = false;
  int32_t descWidth = 0, descHeight = 0;
  int32_t textureWidth = 0, textureHeight = 0; // 0x0 when no frame was taken
  double brightness = -1.0;                    // below 0 when none was computed
};

// "<== REAL DESKTOP", "(black)" or "(no frame)".
const char* probeVerdict(double brightness);
// The line, ending in a line feed.
std::string probeLine(const ProbeResult& result);

} // namespace dravnok::diagnostics
