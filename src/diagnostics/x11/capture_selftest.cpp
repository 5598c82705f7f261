#include "capture/screen_capturer.h"
#include "diagnostics/frame_attempts.h"
#include "diagnostics/modes.h"
#include "diagnostics/selftest_picture.h"

#include <cstdio>

namespace dravnok::diagnostics {

int runCaptureSelfTest(const std::string& bitmapPath) {
  capture::ScreenCapturer capturer;
  if (!initForSelfTest(capturer)) return 2;
  capture::CapturedFrame frame;
  if (!acquireForTest(capturer, frame, 250, [](const capture::CapturedFrame& f) { return f.pixels != nullptr; })) {
    std::fprintf(stderr, "selftest: no frame acquired\n");
    return 3;
  }
  const int code = reportSelfTestPicture(frame.pixels, frame.pitch, frame.width, frame.height, bitmapPath);
  capturer.releaseFrame();
  return code;
}

} // namespace dravnok::diagnostics
