#include "capture/screen_capturer.h"
#include "diagnostics/bench_setup.h"
#include "diagnostics/bench_stages.h"
#include "diagnostics/modes.h"
#include "video/conversion_settings.h"
#include "video/h264_encoder.h"
#include "video/nv12_converter.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace dravnok::diagnostics {

namespace {

double processCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

} // namespace

int runBenchmark(int count) {
  const int n = std::clamp(count, 5, 40);
  BenchFigures figures;
  figures.seed = n;
  capture::ScreenCapturer capturer;
  video::H264Encoder encoder;
  if (const int code = openBench(capturer, encoder, figures)) return code;
  capture::CapturedFrame frame;
  if (const int code = timeAcquisitions(capturer, frame, n, figures,
                                        [](const capture::CapturedFrame& f) { return f.pixels != nullptr; }))
    return code;
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
