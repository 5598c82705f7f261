#pragma once
// A look at a PNG's header before any decoder allocates for it.
#include <string_view>

namespace dravnok::clipboard {

// Whether `png` starts like a PNG whose declared picture is within
// kMaxImagePixels and could come from that many bytes: deflate expands by
// at most 1032 times, so a small file that declares a huge picture is
// refused here instead of after the decoder has committed its buffer.
bool pngSizeAcceptable(std::string_view png);

} // namespace dravnok::clipboard
