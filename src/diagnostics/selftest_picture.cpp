#include "diagnostics/selftest_picture.h"

#include "capture/frame_brightness.h"
#include "diagnostics/bitmap_file.h"

#include <cstdio>

namespace dravnok::diagnostics {

int reportSelfTestPicture(const uint8_t* pixels, uint32_t pitch, uint32_t width, uint32_t height,
                          const std::string& bitmapPath) {
  const double brightness = capture::meanBrightness(pixels, pitch, width, height, 4);
  const bool real = brightness >= capture::kBlackThreshold;
  std::fprintf(stderr, "selftest: average brightness = %.1f / 255  (%s)\n", brightness,
               real ? "REAL IMAGE - capture works" : "BLACK - capture still broken");
  if (writeBitmap24(bitmapPath, pixels, pitch, width, height)) {
    std::fprintf(stderr, "selftest: wrote %s (%ux%u)\n", bitmapPath.c_str(), width, height);
  }
  return real ? 0 : 10;
}

} // namespace dravnok::diagnostics
