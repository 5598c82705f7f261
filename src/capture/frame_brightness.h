#pragma once
// Mean brightness of a BGRA image from a sparse grid of samples: the
// black-frame test of capture and the verdicts of the diagnostics.
#include <cstdint>

namespace dravnok::capture {

// Mean of the blue, green and red bytes of the pixel at every `step`-th
// column of every `step`-th row, from (0, 0); -1.0 when no pixel was taken.
double meanBrightness(const uint8_t* pixels, int64_t pitch, uint32_t width, uint32_t height, uint32_t step);

// Below this mean an image counts as black.
inline constexpr double kBlackThreshold = 3.0;

// The capturer's test: every 16th pixel of every 16th row; an image without
// any sample is not black.
bool isMostlyBlack(const uint8_t* pixels, int64_t pitch, uint32_t width, uint32_t height);

} // namespace dravnok::capture
