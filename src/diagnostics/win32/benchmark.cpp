#include "capture/screen_capturer.h"
#include "diagnostics/modes.h"
#include "video/h264_encoder.h"

#include <cstdio>

namespace dravnok::diagnostics {

int runBenchmark(int) {
  capture::ScreenCapturer capturer;
  std::string error;
  if (!capturer.init(1920, error)) {
    std::fprintf(stderr, "bench: capture init FAILED: %s\n", error.c_str());
    std::printf("{\"b\":0,\"err\":\"capture init\"}\n");
    std::fflush(stdout);
    return 2;
  }
  std::fprintf(stderr, "bench: display %dx%d, encode %dx%d, path %s\n", capturer.width, capturer.height,
               capturer.encodeWidth, capturer.encodeHeight, capturer.gdiMode() ? "GDI" : "Desktop Duplication");
  video::H264Encoder encoder;
  bool hardware = false;
  if (!encoder.init({capturer.encodeWidth, capturer.encodeHeight, 30, 0}, hardware, error)) {
    std::fprintf(stderr, "bench: encoder init FAILED: %s\n", error.c_str());
    std::printf("{\"b\":0,\"err\":\"encoder init\"}\n");
    std::fflush(stdout);
    return 4;
  }
  // Encoding captured textures needs the transform's sample path.
  std::fprintf(stderr, "bench: encoder init FAILED: %s\n", "no sample path for captured textures");
  std::printf("{\"b\":0,\"err\":\"encoder init\"}\n");
  std::fflush(stdout);
  return 4;
}

} // namespace dravnok::diagnostics
