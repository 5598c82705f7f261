#pragma once
// The end of "--selftest" on every platform: the brightness verdict and the
// BMP of the captured picture.
#include <cstdint>
#include <string>

namespace dravnok::diagnostics {

// Returns the mode's exit code: 0 for a real image, 10 for a black one.
int reportSelfTestPicture(const uint8_t* pixels, uint32_t pitch, uint32_t width, uint32_t height,
                          const std::string& bitmapPath);

} // namespace dravnok::diagnostics
