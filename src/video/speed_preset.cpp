#include "video/speed_preset.h"

#include "common/env.h"

#include <algorithm>

namespace dravnok::video {

int32_t qualityVsSpeed(std::optional<int> value) {
  if (!value || *value < 1) return 50;
  return std::min(*value, 100);
}

int32_t qualityVsSpeedFromEnvironment() { return qualityVsSpeed(envNumber("DRAVNOK_REMOTE_QVS")); }

const char* x264PresetFor(int32_t setting) {
  if (setting <= 50) return "ultrafast";
  if (setting < 80) return "superfast";
  return "veryfast";
}

} // namespace dravnok::video
