#pragma once
// What the pictures we encode are: the converters write BT.709 YCbCr in the
// limited range (luma 16..235), and every encoder says so in the stream's
// VUI, so that a decoder converts back with the same matrix and range
// instead of guessing. The codes are those of H.264 Annex E (the same in
// ISO/IEC 23091-2 and in libavcodec's colour enumerations).
#include <cstdint>

namespace dravnok::video {

struct ColourDescription {
  bool fullRange;    // video_full_range_flag
  uint8_t primaries; // colour_primaries
  uint8_t transfer;  // transfer_characteristics
  uint8_t matrix;    // matrix_coefficients
};

inline constexpr uint8_t kBt709 = 1;
inline constexpr ColourDescription kEncodedColour{false, kBt709, kBt709, kBt709};

} // namespace dravnok::video
