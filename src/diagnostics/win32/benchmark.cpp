#include "capture/screen_capturer.h"
#include "diagnostics/bench_setup.h"
#include "diagnostics/bench_stages.h"
#include "diagnostics/modes.h"
#include "video/conversion_settings.h"
#include "video/h264_encoder.h"
#include "video/nv12_converter.h"
#include "video/win32/staging_read_back.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace dravnok::diagnostics {

namespace {

double processCpuSeconds() {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

// A frame's pixels on the CPU: screen copies as they are, desktop textures
// through a staging texture that stays mapped until unmap().
class BenchMap {
public:
  explicit BenchMap(capture::ScreenCapturer& capturer) : capturer(capturer) {}
  ~BenchMap() { unmap(); }
  BenchMap(const BenchMap&) = delete;
  BenchMap& operator=(const BenchMap&) = delete;

  bool map(const capture::CapturedFrame& frame, std::string& error) {
    if (frame.pixels) {
      pixels = frame.pixels;
      pitch = static_cast<int32_t>(frame.pitch);
      width = frame.width;
      height = frame.height;
      return true;
    }
    if (!frame.texture || !capturer.device || !capturer.context) {
      error = "benchMap: no texture";
      return false;
    }
    D3D11_TEXTURE2D_DESC desc{};
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (!readBack.map(capturer, frame.texture.Get(), mapped, desc, error)) return false;
    pixels = static_cast<const uint8_t*>(mapped.pData);
    pitch = static_cast<int32_t>(mapped.RowPitch);
    width = desc.Width;
    height = desc.Height;
    return true;
  }

  void unmap() { readBack.unmap(capturer); }

  const uint8_t* pixels = nullptr;
  int32_t pitch = 0;
  uint32_t width = 0, height = 0;

private:
  capture::ScreenCapturer& capturer;
  video::StagingReadBack readBack;
};

} // namespace

int runBenchmark(int count) {
  const int n = std::clamp(count, 5, 40);
  BenchFigures figures;
  figures.seed = n;
  {
    capture::ScreenCapturer capturer;
    video::H264Encoder encoder;
    if (const int code = openBench(capturer, encoder, figures)) return code;
    capture::CapturedFrame frame;
    if (const int code = timeAcquisitions(capturer, frame, n, figures, [](const capture::CapturedFrame& f) {
          return f.texture != nullptr || f.pixels != nullptr;
        }))
      return code;

    std::string error;
    BenchMap mapping(capturer);
    const auto readStart = BenchClock::now();
    if (!mapping.map(frame, error)) {
      capturer.releaseFrame();
      std::fprintf(stderr, "bench: map FAILED: %s\n", error.c_str());
      return 5;
    }
    figures.readbackMs = frame.pixels ? 0.0 : msSince(readStart);

    video::Nv12Converter converter(video::readConversionSettings(), figures.encodeWidth, figures.encodeHeight);
    figures.threads = converter.threads();
    std::vector<uint8_t> legacy(converter.pictureSize()), fast(converter.pictureSize());
    measureConversions(converter, mapping.pixels, mapping.pitch, mapping.width, mapping.height, n, legacy, fast,
                       figures);
    mapping.unmap();
    capturer.releaseFrame();
    measureEncoding(encoder, fast, n, figures);
  }
  runLivePump(figures, processCpuSeconds);
  printFigures(figures);
  return figures.mismatched != 0 ? 10 : 0;
}

} // namespace dravnok::diagnostics
