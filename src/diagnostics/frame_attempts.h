#pragma once
// How the self-tests wait for a first image: up to 80 acquisitions, 40 ms
// apart.
#include <chrono>
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

} // namespace dravnok::diagnostics
