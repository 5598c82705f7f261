#include "capture/screen_capturer.h"
#include "diagnostics/modes.h"
#include "video/conversion_settings.h"
#include "video/h264_encoder.h"
#include "video/nv12_converter.h"
#include "video/screen_picture_source.h"

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

struct LivePump {
  bool ran = false;
  std::string why;
  double fps = 0, kbps = 0, cores = 0;
  std::string statistics;
};

LivePump runLivePump() {
  LivePump result;
  capture::ScreenCapturer capturer;
  std::string error;
  if (!capturer.init(1920, error)) {
    result.why = error;
    return result;
  }
  video::H264Encoder encoder;
  bool hardware = false;
  if (!encoder.init({capturer.encodeWidth, capturer.encodeHeight, 30, 0}, hardware, error)) {
    result.why = error;
    return result;
  }
  uint64_t frames = 0, bytes = 0;
  encoder.setFrameSink([&](const uint8_t*, size_t length, bool, int64_t) {
    ++frames;
    bytes += length;
  });
  if (!encoder.start(capturer)) {
    result.why = "the encoder cannot take this capturer's pictures";
    return result;
  }
  const auto start = Clock::now();
  const double cpuStart = processCpuSeconds();
  encoder.trackOpened();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const double cpu = processCpuSeconds() - cpuStart;
  const double seconds = msSince(start) / 1000.0;
  result.statistics = encoder.statisticsText();
  encoder.stop();
  result.ran = true;
  result.fps = static_cast<double>(frames) / seconds;
  result.kbps = static_cast<double>(bytes) * 8 / seconds / 1000;
  result.cores = cpu / seconds;
  return result;
}

} // namespace

int runBenchmark(int count) {
  const int n = std::clamp(count, 5, 40);
  capture::ScreenCapturer capturer;
  std::string error;
  if (!capturer.init(1920, error)) return failWith("bench: capture init FAILED: %s\n", error, "capture init", 2);
  const bool screenCopies = capturer.gdiMode();
  std::fprintf(stderr, "bench: display %dx%d, encode %dx%d, path %s\n", capturer.width, capturer.height,
               capturer.encodeWidth, capturer.encodeHeight, screenCopies ? "GDI" : "Desktop Duplication");
  video::H264Encoder encoder;
  bool hardware = false;
  if (!encoder.init({capturer.encodeWidth, capturer.encodeHeight, 30, 0}, hardware, error))
    return failWith("bench: encoder init FAILED: %s\n", error, "encoder init", 4);
  const int width = encoder.encodeWidth();
  const int height = encoder.encodeHeight();

  // Acquisition: every attempt forced to deliver, so this is the cost of one
  // screen read at the encode size.
  capture::CapturedFrame frame;
  double acquireMs = 0;
  int acquired = 0;
  for (int attempt = 0; attempt < 80 && acquired < n; ++attempt) {
    capturer.releaseFrame();
    capturer.setNeedFreshFrame();
    const auto start = Clock::now();
    capturer.acquireFrame(frame, 100);
    if (frame.valid && frame.pixels) {
      acquireMs += msSince(start);
      ++acquired;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  }
  if (acquired == 0) return failWith("bench: no frame acquired%s\n", "", "no frame", 3);
  acquireMs /= acquired;
  // Screen images are already in memory here: there is nothing to map.
  const double readbackMs = 0.0;

  video::Nv12Converter converter(video::readConversionSettings(), width, height);
  std::vector<uint8_t> legacy(converter.pictureSize()), fast(converter.pictureSize());
  auto start = Clock::now();
  for (int i = 0; i < n; ++i)
    converter.convertLegacy(frame.pixels, static_cast<int32_t>(frame.pitch), frame.width, frame.height, legacy.data());
  const double legacyMs = msSince(start) / n;
  start = Clock::now();
  for (int i = 0; i < n; ++i)
    converter.convertFast(frame.pixels, static_cast<int32_t>(frame.pitch), frame.width, frame.height, fast.data());
  const double fastMs = msSince(start) / n;
  size_t mismatched = 0;
  for (size_t i = 0; i < legacy.size(); ++i) mismatched += legacy[i] != fast[i];
  capturer.releaseFrame();
  std::fprintf(stderr, "bench: convert legacy %.1f ms, fast %.2f ms on %d threads, mismatched bytes %zu\n", legacyMs,
               fastMs, converter.threads(), mismatched);

  const std::string settings = encoder.describeSettings();
  video::EncoderBackend& backend = *encoder.backendForTest();
  size_t lastSize = 0;
  auto sizeOf = [&](const uint8_t*, size_t length, bool) { lastSize += length; };
  auto encodeAt = [&](const std::vector<uint8_t>& picture, int quality, bool key, double* ms) {
    backend.setQuality(quality);
    lastSize = 0;
    const auto begin = Clock::now();
    backend.encode(picture.data(), 0, key, sizeOf);
    if (ms) *ms = msSince(begin);
    return lastSize;
  };
  const size_t idr92 = encodeAt(fast, 92, true, nullptr);
  const size_t idr60 = encodeAt(fast, 60, true, nullptr);
  std::vector<uint8_t> moved;
  std::vector<double> encodeTimes;
  double scrollKbps[3] = {};
  const int qualities[3] = {92, 60, 40};
  for (int level = 0; level < 3; ++level) {
    encodeAt(fast, qualities[level], true, nullptr);
    size_t bytes = 0;
    for (int i = 1; i <= n; ++i) {
      scrolled(fast, width, height, (i * 8) % height, moved);
      double ms = 0;
      bytes += encodeAt(moved, qualities[level], false, &ms);
      if (level == 0) encodeTimes.push_back(ms);
    }
    scrollKbps[level] = static_cast<double>(bytes) * 8 * 30 / n / 1000;
  }
  std::sort(encodeTimes.begin(), encodeTimes.end());
  double encodeMs = 0;
  for (double t : encodeTimes) encodeMs += t;
  encodeMs /= static_cast<double>(encodeTimes.size());
  const double encodeP95 = encodeTimes[std::min(encodeTimes.size() - 1, encodeTimes.size() * 95 / 100)];
  std::fprintf(stderr,
               "bench: encode %.1f ms (p95 %.1f) | IDR %zu KB @Q92, %zu KB @Q60 | scroll %.0f/%.0f/%.0f kbps "
               "@Q92/60/40\n",
               encodeMs, encodeP95, idr92 / 1024, idr60 / 1024, scrollKbps[0], scrollKbps[1], scrollKbps[2]);
  const double fpsOld = 1000.0 / std::max(acquireMs + readbackMs + legacyMs + encodeMs, 0.001);
  const double fpsNew = 1000.0 / std::max(acquireMs + readbackMs + fastMs + encodeMs, 0.001);
  std::fprintf(stderr, "bench: sustainable fps old %.1f -> new %.1f (readback %.1f ms)\n", fpsOld, fpsNew, readbackMs);

  const LivePump live = runLivePump();
  if (live.ran)
    std::fprintf(stderr, "bench: live pump %.1f fps, %.0f kbps, %.2f cores | %s\n", live.fps, live.kbps, live.cores,
                 live.statistics.c_str());
  else
    std::fprintf(stderr, "bench: live pump skipped: %s\n", live.why.c_str());

  std::printf("{\"b\":1,\"path\":\"%s\",\"seed\":%d,\"disp\":\"%dx%d\",\"enc\":\"%dx%d\",\"thr\":%d,\"acqMs\":%.1f,"
              "\"rbMs\":%.1f,\"legMs\":%.1f,\"fastMs\":%.2f,\"eq\":%zu,\"encMs\":%.1f,\"encP95\":%.1f,\"idr92\":%zu,"
              "\"idr60\":%zu,\"k92\":%.0f,\"k60\":%.0f,\"k40\":%.0f,\"fpsOld\":%.1f,\"fpsNew\":%.1f,"
              "\"live\":{\"fps\":%.1f,\"kbps\":%.0f,\"cores\":%.2f},\"rc\":\"%s\"}\n",
              screenCopies ? "gdi" : "dd", n, capturer.width, capturer.height, width, height, converter.threads(),
              acquireMs, readbackMs, legacyMs, fastMs, mismatched, encodeMs, encodeP95, idr92, idr60, scrollKbps[0],
              scrollKbps[1], scrollKbps[2], fpsOld, fpsNew, live.fps, live.kbps, live.cores, settings.c_str());
  std::fflush(stdout);
  return mismatched != 0 ? 10 : 0;
}

} // namespace dravnok::diagnostics
