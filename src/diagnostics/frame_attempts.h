#pragma once
// How the self-tests open the capturer and wait for a first image (up to 80
// acquisitions, 40 ms apart).
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace dravnok::diagnostics {

template <class Capturer, class Frame, class HasImage>
bool acquireForTest(Capturer& capturer, Frame& frame, int timeoutMs, HasImage hasImage) {
  for (int attempt = 0; attempt < 80; ++attempt) {
    capturer.releaseFrame();
    capturer.acquireFrame(frame, timeoutMs);
    if (frame.valid && hasImage(frame)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
  return false;
}

// Opens the first monitor at its own size, as "--selftest" does, and says so.
template <class Capturer> bool initForSelfTest(Capturer& capturer) {
  std::string error;
  if (!capturer.init(0, error)) {
    std::fprintf(stderr, "selftest: capture init FAILED: %s\n", error.c_str());
    return false;
  }
  std::fprintf(stderr, "selftest: capture %dx%d (origin %d,%d)\n", capturer.width, capturer.height, capturer.left,
               capturer.top);
  return true;
}

} // namespace dravnok::diagnostics
