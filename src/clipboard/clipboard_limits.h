#pragma once
// How much one clipboard item may hold, whoever it comes from: the viewer,
// another program on the desktop, or the relay.
#include <cstddef>
#include <cstdint>

namespace dravnok::clipboard {

// 64 Mi pixels: 8192 x 8192, more than an 8K screen; 256 MiB as BGRA.
inline constexpr uint64_t kMaxImagePixels = uint64_t{1} << 26;
inline constexpr uint64_t kMaxPixelBytes = kMaxImagePixels * 4;

// The bytes of one item as it travels: a viewer's PNG, or one selection
// transfer from another X client (text, PNG or bitmap).
inline constexpr size_t kMaxClipboardBytes = size_t{64} << 20;

} // namespace dravnok::clipboard
