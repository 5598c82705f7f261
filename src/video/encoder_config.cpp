#include "video/encoder_config.h"

#include <algorithm>

namespace dravnok::video {

int32_t evenEncodeDimension(int32_t value) { return std::max(value & ~1, 2); }

int32_t startBitrate(int32_t width, int32_t height, int32_t fps) {
  const double bits = static_cast<double>(width) * height * std::max(fps, 1) * 0.13;
  return static_cast<int32_t>(std::min(std::max(bits, 2'000'000.0), 8'000'000.0));
}

int32_t qualityCeiling(uint32_t target, int32_t qualityTarget) {
  if (target == 0) return qualityTarget;
  int32_t ceiling = 60;
  if (target >= 4'000'000)
    ceiling = 92;
  else if (target >= 2'000'000)
    ceiling = 84;
  else if (target >= 1'000'000)
    ceiling = 72;
  return std::min(ceiling, qualityTarget);
}

double quantizerScaleFor(int32_t quality) { return 12.0 + (100 - quality) * 0.39; }

int32_t keyFrameQuality(uint32_t target) {
  if (target == 0 || target >= 2'500'000) return 70;
  return target >= 1'000'000 ? 60 : 50;
}

int32_t currentFrameRate(int32_t rateControllerFps, int32_t configuredFps, int32_t fpsCap) {
  return std::max(std::min({rateControllerFps, configuredFps, fpsCap}), 5);
}

} // namespace dravnok::video
