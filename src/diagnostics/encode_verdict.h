#pragma once
// Whether an NV12 luma mean shows a picture: limited-range black is 16, so
// the threshold sits three steps above it, as the capture test's 3.0 does
// above full-range black.
namespace dravnok::diagnostics {

inline constexpr double kLumaBlackThreshold = 19.0;

inline bool lumaShowsImage(double mean) { return mean >= kLumaBlackThreshold; }

} // namespace dravnok::diagnostics
