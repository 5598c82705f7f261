#pragma once
// The encoder's trade between picture quality per bit and speed, set by
// DRAVNOK_REMOTE_QVS: 1..100, higher favours quality; 50 when unset.
#include <cstdint>
#include <optional>

namespace dravnok::video {

// `value` is the variable's number when it has one of at least 1.
int32_t qualityVsSpeed(std::optional<int> value);
int32_t qualityVsSpeedFromEnvironment();

// The libx264 preset for a setting. Up to the default the fastest: on a
// machine that is also running the supported user's work, CPU costs more
// than bits, and screen content compresses well without the slower tools.
const char* x264PresetFor(int32_t qualityVsSpeed);

} // namespace dravnok::video
