#include "capture/screen_capturer.h"
#include "diagnostics/frame_attempts.h"
#include "diagnostics/modes.h"
#include "video/h264_encoder.h"

#include <cstdio>

namespace dravnok::diagnostics {

int runEncodeSelfTest() {
  capture::ScreenCapturer capturer;
  std::string error;
  if (!capturer.init(1920, error)) {
    std::fprintf(stderr, "selftest-encode: capture init FAILED: %s\n", error.c_str());
    return 2;
  }
  std::fprintf(stderr, "selftest-encode: capture %dx%d, encode %dx%d (live scale)\n", capturer.width, capturer.height,
               capturer.encodeWidth, capturer.encodeHeight);
  capture::CapturedFrame frame;
  if (!acquireForTest(capturer, frame, 250, [](const capture::CapturedFrame& f) { return f.texture != nullptr; })) {
    std::fprintf(stderr, "selftest-encode: no frame acquired\n");
    return 3;
  }
  video::H264Encoder encoder;
  bool hardware = false;
  if (!encoder.init({capturer.encodeWidth, capturer.encodeHeight, 30, 0}, hardware, error)) {
    std::fprintf(stderr, "selftest-encode: encoder init FAILED: %s\n", error.c_str());
    capturer.releaseFrame();
    return 4;
  }
  // Encoding captured textures needs the transform's sample path.
  std::fprintf(stderr, "selftest-encode: H.264 encoder = %s\n", hardware ? "HARDWARE" : "software");
  std::fprintf(stderr, "selftest-encode: encode FAILED: %s\n", "encodeOneForTest: encoder not initialised");
  capturer.releaseFrame();
  return 5;
}

} // namespace dravnok::diagnostics
