#include "diagnostics/probe_line.h"

#include "capture/frame_brightness.h"

#include <cstdio>

namespace dravnok::diagnostics {

const char* probeVerdict(double brightness) {
  if (brightness >= capture::kBlackThreshold) return "<== REAL DESKTOP";
  return brightness < 0 ? "(no frame)" : "(black)";
}

std::string probeLine(const ProbeResult& r) {
  char line[512];
  std::snprintf(line, sizeof line, "adapter %u '%s' output %u attached=%d desc=%dx%d tex=%dx%d brightness=%.1f %s\n",
                r.adapter, r.adapterName.c_str(), r.output, r.attached ? 1 : 0, r.descWidth, r.descHeight,
                r.textureWidth, r.textureHeight, r.brightness, probeVerdict(r.brightness));
  return line;
}

} // namespace dravnok::diagnostics
