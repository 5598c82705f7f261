#include "capture/screen_capturer.h"
#include "diagnostics/bench_stages.h"
#include "diagnostics/modes.h"
#include "video/conversion_settings.h"
#include "video/h264_encoder.h"
#include "video/nv12_converter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

namespace dravnok::diagnostics {

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double processCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

int failWith(const char* line, const std::string& detail, const char* key, int code) {
  std::fprintf(stderr, line, detail.c_str());
  std::printf("{\"b\":0,\"err\":\"%s\"}\n", key);
  std::fflush(stdout);
  return code;
}

} // namespace

int runBenchmark(int count) {
  const int n = std::clamp(count, 5, 40);
  BenchFigures figures;
  figures.seed = n;
  capture::ScreenCapturer capturer;
  std::string error;
  if (!capturer.init(1920, error)) return failWith("bench: capture init FAILED: %s\n", error, "capture init", 2);
  figures.screenCopies = capturer.gdiMode();
  figures.displayWidth = capturer.width;
  figures.displayHeight = capturer.height;
  std::fprintf(stderr, "bench: display %dx%d, encode %dx%d, path %s\n", capturer.width, capturer.height,
               capturer.encodeWidth, capturer.encodeHeight, figures.screenCopies ? "GDI" : "Desktop Duplication");
  video::H264Encoder encoder;
  bool hardware = false;
  if (!encoder.init({capturer.encodeWidth, capturer.encodeHeight, 30, 0}, hardware, error))
    return failWith("bench: encoder init FAILED: %s\n", error, "encoder init", 4);
  figures.encodeWidth = encoder.encodeWidth();
  figures.encodeHeight = encoder.encodeHeight();

  // Acquisition: every attempt forced to deliver, so this is the cost of one
  // screen read at the encode size.
  capture::CapturedFrame frame;
  int acquired = 0;
  for (int attempt = 0; attempt < 80 && acquired < n; ++attempt) {
    capturer.releaseFrame();
    capturer.setNeedFreshFrame();
    const auto start = Clock::now();
    capturer.acquireFrame(frame, 100);
    if (frame.valid && frame.pixels) {
      figures.acquireMs += msSince(start);
      ++acquired;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  }
  if (acquired == 0) return failWith("bench: no frame acquired%s\n", "", "no frame", 3);
  figures.acquireMs /= acquired;
  // Screen images are already in memory here: there is nothing to map.
  figures.readbackMs = 0.0;

  video::Nv12Converter converter(video::readConversionSettings(), figures.encodeWidth, figures.encodeHeight);
  figures.threads = converter.threads();
  std::vector<uint8_t> legacy(converter.pictureSize()), fast(converter.pictureSize());
  measureConversions(converter, frame.pixels, static_cast<int32_t>(frame.pitch), frame.width, frame.height, n, legacy,
                     fast, figures);
  capturer.releaseFrame();
  measureEncoding(encoder, fast, n, figures);
  runLivePump(figures, processCpuSeconds);
  printFigures(figures);
  return figures.mismatched != 0 ? 10 : 0;
}

} // namespace dravnok::diagnostics
