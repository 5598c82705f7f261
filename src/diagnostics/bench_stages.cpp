#include "diagnostics/bench_stages.h"

#include "diagnostics/bench_setup.h"

#include "capture/screen_capturer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace dravnok::diagnostics {

namespace {

using Clock = BenchClock;

// A page of text-like marks over the captured picture, moved up by `rows`:
// content with real detail whatever the screen shows.
void scrolled(const std::vector<uint8_t>& nv12, int width, int height, int rows, std::vector<uint8_t>& out) {
  out = nv12;
  for (int y = 0; y < height; ++y) {
    const uint32_t line = static_cast<uint32_t>(y + rows);
    if (line % 16 >= 11) continue; // spacing between lines of text
    uint8_t* row = out.data() + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      uint32_t cell = (line / 16) * 7919u + static_cast<uint32_t>(x / 6) * 104729u;
      cell ^= cell >> 13;
      cell *= 0x5bd1e995u;
      cell ^= cell >> 15;
      if ((cell >> ((line % 16) * 2 + static_cast<uint32_t>(x % 6) / 3)) & 1) row[x] = 40;
    }
  }
}

} // namespace

void measureConversions(video::Nv12Converter& converter, const uint8_t* pixels, int32_t pitch, uint32_t width,
                        uint32_t height, int n, std::vector<uint8_t>& legacy, std::vector<uint8_t>& fast,
                        BenchFigures& figures) {
  auto start = Clock::now();
  for (int i = 0; i < n; ++i) converter.convertLegacy(pixels, pitch, width, height, legacy.data());
  figures.legacyMs = msSince(start) / n;
  start = Clock::now();
  for (int i = 0; i < n; ++i) converter.convertFast(pixels, pitch, width, height, fast.data());
  figures.fastMs = msSince(start) / n;
  figures.mismatched = 0;
  for (size_t i = 0; i < legacy.size(); ++i) figures.mismatched += legacy[i] != fast[i];
  std::fprintf(stderr, "bench: convert legacy %.1f ms, fast %.2f ms on %d threads, mismatched bytes %zu\n",
               figures.legacyMs, figures.fastMs, converter.threads(), figures.mismatched);
}

void measureEncoding(video::H264Encoder& encoder, const std::vector<uint8_t>& picture, int n, BenchFigures& figures) {
  const int width = encoder.encodeWidth();
  const int height = encoder.encodeHeight();
  figures.settings = encoder.describeSettings();
  video::EncoderBackend& backend = *encoder.backendForTest();
  size_t lastSize = 0;
  auto sizeOf = [&](const uint8_t*, size_t length, bool) { lastSize += length; };
  auto encodeAt = [&](const std::vector<uint8_t>& nv12, int quality, bool key, double* ms) {
    backend.setQuality(quality);
    lastSize = 0;
    const auto begin = Clock::now();
    backend.encode(nv12.data(), 0, key, sizeOf);
    if (ms) *ms = msSince(begin);
    return lastSize;
  };
  // Key frames of the detailed page: on a flat screen the sizes at two qualities
  // differ only by noise.
  std::vector<uint8_t> moved;
  scrolled(picture, width, height, 0, moved);
  figures.idr92 = encodeAt(moved, 92, true, nullptr);
  figures.idr60 = encodeAt(moved, 60, true, nullptr);
  std::vector<double> encodeTimes;
  const int qualities[3] = {92, 60, 40};
  for (int level = 0; level < 3; ++level) {
    encodeAt(picture, qualities[level], true, nullptr);
    size_t bytes = 0;
    for (int i = 1; i <= n; ++i) {
      scrolled(picture, width, height, (i * 8) % height, moved);
      double ms = 0;
      bytes += encodeAt(moved, qualities[level], false, &ms);
      if (level == 0) encodeTimes.push_back(ms);
    }
    figures.scrollKbps[level] = static_cast<double>(bytes) * 8 * 30 / n / 1000;
  }
  backend.flush(sizeOf);
  std::sort(encodeTimes.begin(), encodeTimes.end());
  double sum = 0;
  for (double t : encodeTimes) sum += t;
  figures.encodeMs = sum / static_cast<double>(encodeTimes.size());
  figures.encodeP95 = encodeTimes[std::min(encodeTimes.size() - 1, encodeTimes.size() * 95 / 100)];
  std::fprintf(stderr,
               "bench: encode %.1f ms (p95 %.1f) | IDR %zu KB @Q92, %zu KB @Q60 | scroll %.0f/%.0f/%.0f kbps "
               "@Q92/60/40\n",
               figures.encodeMs, figures.encodeP95, figures.idr92 / 1024, figures.idr60 / 1024, figures.scrollKbps[0],
               figures.scrollKbps[1], figures.scrollKbps[2]);
  const double fixedMs = figures.acquireMs + figures.readbackMs + figures.encodeMs;
  figures.fpsOld = 1000.0 / std::max(fixedMs + figures.legacyMs, 0.001);
  figures.fpsNew = 1000.0 / std::max(fixedMs + figures.fastMs, 0.001);
  std::fprintf(stderr, "bench: sustainable fps old %.1f -> new %.1f (readback %.1f ms)\n", figures.fpsOld,
               figures.fpsNew, figures.readbackMs);
}

void runLivePump(BenchFigures& figures, double (*cpuSeconds)()) {
  capture::ScreenCapturer capturer;
  std::string error;
  if (!capturer.init(1920, error)) {
    std::fprintf(stderr, "bench: live pump skipped: %s\n", error.c_str());
    return;
  }
  video::H264Encoder encoder;
  bool hardware = false;
  if (!encoder.init({capturer.encodeWidth, capturer.encodeHeight, 30, 0}, hardware, error)) {
    std::fprintf(stderr, "bench: live pump skipped: %s\n", error.c_str());
    return;
  }
  uint64_t frames = 0, bytes = 0;
  encoder.setFrameSink([&](const uint8_t*, size_t length, bool, int64_t) {
    ++frames;
    bytes += length;
  });
  if (!encoder.start(capturer)) {
    std::fprintf(stderr, "bench: live pump skipped: %s\n", "the encoder cannot take this capturer's pictures");
    return;
  }
  const auto start = Clock::now();
  const double cpuStart = cpuSeconds();
  encoder.trackOpened();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const double cpu = cpuSeconds() - cpuStart;
  const double seconds = msSince(start) / 1000.0;
  const std::string statistics = encoder.statisticsText();
  encoder.stop();
  figures.liveFps = static_cast<double>(frames) / seconds;
  figures.liveKbps = static_cast<double>(bytes) * 8 / seconds / 1000;
  figures.liveCores = cpu / seconds;
  std::fprintf(stderr, "bench: live pump %.1f fps, %.0f kbps, %.2f cores | %s\n", figures.liveFps, figures.liveKbps,
               figures.liveCores, statistics.c_str());
}

void printFigures(const BenchFigures& f) {
  std::printf("{\"b\":1,\"path\":\"%s\",\"seed\":%d,\"disp\":\"%dx%d\",\"enc\":\"%dx%d\",\"thr\":%d,\"acqMs\":%.1f,"
              "\"rbMs\":%.1f,\"legMs\":%.1f,\"fastMs\":%.2f,\"eq\":%zu,\"encMs\":%.1f,\"encP95\":%.1f,\"idr92\":%zu,"
              "\"idr60\":%zu,\"k92\":%.0f,\"k60\":%.0f,\"k40\":%.0f,\"fpsOld\":%.1f,\"fpsNew\":%.1f,"
              "\"live\":{\"fps\":%.1f,\"kbps\":%.0f,\"cores\":%.2f},\"rc\":\"%s\"}\n",
              f.screenCopies ? "gdi" : "dd", f.seed, f.displayWidth, f.displayHeight, f.encodeWidth, f.encodeHeight,
              f.threads, f.acquireMs, f.readbackMs, f.legacyMs, f.fastMs, f.mismatched, f.encodeMs, f.encodeP95,
              f.idr92, f.idr60, f.scrollKbps[0], f.scrollKbps[1], f.scrollKbps[2], f.fpsOld, f.fpsNew, f.liveFps,
              f.liveKbps, f.liveCores, f.settings.c_str());
  std::fflush(stdout);
}

} // namespace dravnok::diagnostics
