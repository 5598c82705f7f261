#include "capture/frame_brightness.h"
#include "capture/screen_capturer.h"
#include "diagnostics/bitmap_file.h"
#include "diagnostics/frame_attempts.h"
#include "diagnostics/modes.h"

#include <cstdio>

namespace dravnok::diagnostics {

int runCaptureSelfTest(const std::string& bitmapPath) {
  capture::ScreenCapturer capturer;
  std::string error;
  if (!capturer.init(0, error)) {
    std::fprintf(stderr, "selftest: capture init FAILED: %s\n", error.c_str());
    return 2;
  }
  std::fprintf(stderr, "selftest: capture %dx%d (origin %d,%d)\n", capturer.width, capturer.height, capturer.left,
               capturer.top);
  capture::CapturedFrame frame;
  if (!acquireForTest(capturer, frame, 250, [](const capture::CapturedFrame& f) { return f.pixels != nullptr; })) {
    std::fprintf(stderr, "selftest: no frame acquired\n");
    return 3;
  }
  const double brightness = capture::meanBrightness(frame.pixels, frame.pitch, frame.width, frame.height, 4);
  const bool real = brightness >= capture::kBlackThreshold;
  std::fprintf(stderr, "selftest: average brightness = %.1f / 255  (%s)\n", brightness,
               real ? "REAL IMAGE - capture works" : "BLACK - capture still broken");
  if (writeBitmap24(bitmapPath, frame.pixels, frame.pitch, frame.width, frame.height)) {
    std::fprintf(stderr, "selftest: wrote %s (%ux%u)\n", bitmapPath.c_str(), frame.width, frame.height);
  }
  capturer.releaseFrame();
  return real ? 0 : 10;
}

} // namespace dravnok::diagnostics
