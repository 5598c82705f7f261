// The fast and legacy converters at the encode size 1920x1080, from a
// 1920x1080 and a 2560x1440 screen, beside libyuv on the same buffers.
#include "video/fast_converter.h"
#include "video/legacy_converter.h"

#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <thread>
#include <vector>

using namespace dravnok::video;

namespace {

constexpr int kOutWidth = 1920, kOutHeight = 1080;

// Screen-like content: flat areas, gradients and noise, so that the halfway
// fall-back is hit about as often as on a desktop.
const std::vector<uint8_t>& sourceImage(int width, int height) {
  static std::map<int, std::vector<uint8_t>> images;
  auto& image = images[width];
  if (image.empty()) {
    image.resize(static_cast<size_t>(width) * height * 4);
    std::mt19937 random(width);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        uint8_t* p = image.data() + (static_cast<size_t>(y) * width + x) * 4;
        int band = (y / 97) % 3;
        p[0] = band == 0 ? 240 : band == 1 ? static_cast<uint8_t>(x * 255 / width) : static_cast<uint8_t>(random());
        p[1] = band == 0 ? 240 : static_cast<uint8_t>(y);
        p[2] = band == 0 ? 238 : static_cast<uint8_t>(random());
        p[3] = 255;
      }
    }
  }
  return image;
}

int allThreads() { return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8); }

void fast(benchmark::State& state) {
  const int sourceWidth = static_cast<int>(state.range(0)), sourceHeight = sourceWidth * 9 / 16;
  const int threads = state.range(1) == 0 ? allThreads() : static_cast<int>(state.range(1));
  const auto level = static_cast<SimdLevel>(state.range(2));
  const auto& source = sourceImage(sourceWidth, sourceHeight);
  std::vector<uint8_t> out(nv12Size(kOutWidth, kOutHeight));
  FastConverter converter(threads, level);
  for (auto _ : state) {
    converter.convert(source.data(), sourceWidth * 4, sourceWidth, sourceHeight, kOutWidth, kOutHeight, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  std::vector<uint8_t> reference(out.size());
  convertLegacy(source.data(), sourceWidth * 4, sourceWidth, sourceHeight, kOutWidth, kOutHeight, reference.data());
  state.counters["mismatched"] = static_cast<double>(out != reference);
  state.counters["threads"] = converter.threads();
  state.SetLabel(simdLevelName(level));
}

void legacy(benchmark::State& state) {
  const int sourceWidth = static_cast<int>(state.range(0)), sourceHeight = sourceWidth * 9 / 16;
  const auto& source = sourceImage(sourceWidth, sourceHeight);
  std::vector<uint8_t> out(nv12Size(kOutWidth, kOutHeight));
  for (auto _ : state) {
    convertLegacy(source.data(), sourceWidth * 4, sourceWidth, sourceHeight, kOutWidth, kOutHeight, out.data());
    benchmark::DoNotOptimize(out.data());
  }
}

// The reference library: nearest-neighbour scale (when needed), then
// ARGBToNV12, one thread.
void libyuvArgbToNv12(benchmark::State& state) {
  const int sourceWidth = static_cast<int>(state.range(0)), sourceHeight = sourceWidth * 9 / 16;
  const auto& source = sourceImage(sourceWidth, sourceHeight);
  std::vector<uint8_t> scaled(static_cast<size_t>(kOutWidth) * kOutHeight * 4);
  std::vector<uint8_t> out(nv12Size(kOutWidth, kOutHeight));
  for (auto _ : state) {
    const uint8_t* argb = source.data();
    if (sourceWidth != kOutWidth) {
      libyuv::ARGBScale(source.data(), sourceWidth * 4, sourceWidth, sourceHeight, scaled.data(), kOutWidth * 4,
                        kOutWidth, kOutHeight, libyuv::kFilterNone);
      argb = scaled.data();
    }
    libyuv::ARGBToNV12(argb, kOutWidth * 4, out.data(), kOutWidth, out.data() + kOutWidth * kOutHeight, kOutWidth,
                       kOutWidth, kOutHeight);
    benchmark::DoNotOptimize(out.data());
  }
}

void registerAll() {
  for (int64_t width : {1920, 2560}) {
    for (SimdLevel level : supportedSimdLevels()) {
      benchmark::RegisterBenchmark("fast", fast)
          ->Args({width, 1, static_cast<int64_t>(level)})
          ->ArgNames({"from", "threads", "simd"})
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
    benchmark::RegisterBenchmark("fast", fast)
        ->Args({width, 0, static_cast<int64_t>(detectSimdLevel())})
        ->ArgNames({"from", "threads", "simd"})
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("legacy", legacy)->Arg(width)->ArgName("from")->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("libyuv", libyuvArgbToNv12)
        ->Arg(width)
        ->ArgName("from")
        ->Unit(benchmark::kMillisecond);
  }
}

} // namespace

int main(int argc, char** argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
