#pragma once
// PNG decoding into the top-down BGRA buffer (the encoder is encodePng).
// Implemented per platform.
#include "clipboard/dib.h"

#include <optional>
#include <string_view>

namespace dravnok::clipboard {

// The first frame of any PNG as 32-bit BGRA; nothing when it does not decode.
std::optional<BgraImage> decodePng(std::string_view png);

} // namespace dravnok::clipboard
