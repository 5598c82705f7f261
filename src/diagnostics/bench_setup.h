#pragma once
// The first stages of --bench on every platform: the capturer and encoder
// opened as the session opens them, then forced screen reads timed.
#include "diagnostics/bench_stages.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace dravnok::diagnostics {

using BenchClock = std::chrono::steady_clock;

inline double msSince(BenchClock::time_point start) {
  return std::chrono::duration<double, std::milli>(BenchClock::now() - start).count();
}

// The error line on standard error and the machine-readable failure line;
// returns the mode's exit code.
inline int benchFailure(const char* line, const std::string& detail, const char* key, int code) {
  std::fprintf(stderr, line, detail.c_str());
  std::printf("{\"b\":0,\"err\":\"%s\"}\n", key);
  std::fflush(stdout);
  return code;
}

// Returns 0, or the exit code after saying what failed.
template <class Capturer, class Encoder> int openBench(Capturer& capturer, Encoder& encoder, BenchFigures& figures) {
  std::string error;
  if (!capturer.init(1920, error)) return benchFailure("bench: capture init FAILED: %s\n", error, "capture init", 2);
  figures.screenCopies = capturer.gdiMode();
  figures.displayWidth = capturer.width;
  figures.displayHeight = capturer.height;
  std::fprintf(stderr, "bench: display %dx%d, encode %dx%d, path %s\n", capturer.width, capturer.height,
               capturer.encodeWidth, capturer.encodeHeight, figures.screenCopies ? "GDI" : "Desktop Duplication");
  bool hardware = false;
  if (!encoder.init({capturer.encodeWidth, capturer.encodeHeight, 30, 0}, hardware, error))
    return benchFailure("bench: encoder init FAILED: %s\n", error, "encoder init", 4);
  figures.encodeWidth = encoder.encodeWidth();
  figures.encodeHeight = encoder.encodeHeight();
  return 0;
}

// Every attempt is forced to deliver, so this is the cost of one screen read.
// Leaves the last frame acquired in `frame`; returns 0, or 3 when none came.
template <class Capturer, class Frame, class HasImage>
int timeAcquisitions(Capturer& capturer, Frame& frame, int n, BenchFigures& figures, HasImage hasImage) {
  int acquired = 0;
  for (int attempt = 0; attempt < 80 && acquired < n; ++attempt) {
    capturer.releaseFrame();
    capturer.setNeedFreshFrame();
    const auto start = BenchClock::now();
    capturer.acquireFrame(frame, 100);
    if (frame.valid && hasImage(frame)) {
      figures.acquireMs += msSince(start);
      ++acquired;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  }
  if (acquired == 0) return benchFailure("bench: no frame acquired%s\n", "", "no frame", 3);
  figures.acquireMs /= acquired;
  return 0;
}

} // namespace dravnok::diagnostics
