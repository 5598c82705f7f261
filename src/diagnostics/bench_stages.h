#pragma once
// The platform-neutral stages of --bench: converter comparison, encode
// timings and sizes, the live pump and the result lines.
#include "video/h264_encoder.h"
#include "video/nv12_converter.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dravnok::diagnostics {

struct BenchFigures {
  int seed = 0;
  bool screenCopies = false;
  int displayWidth = 0, displayHeight = 0, encodeWidth = 0, encodeHeight = 0, threads = 1;
  double acquireMs = 0, readbackMs = 0, legacyMs = 0, fastMs = 0;
  size_t mismatched = 0;
  double encodeMs = 0, encodeP95 = 0;
  size_t idr92 = 0, idr60 = 0;
  double scrollKbps[3] = {};
  double fpsOld = 0, fpsNew = 0;
  double liveFps = 0, liveKbps = 0, liveCores = 0;
  std::string settings;
};

// Both converters `n` times on one image; prints the conversion line.
void measureConversions(video::Nv12Converter& converter, const uint8_t* pixels, int32_t pitch, uint32_t width,
                        uint32_t height, int n, std::vector<uint8_t>& legacy, std::vector<uint8_t>& fast,
                        BenchFigures& figures);

// Key-frame sizes and a scrolling sequence at three qualities from `picture`;
// prints the encode and sustainable-fps lines.
void measureEncoding(video::H264Encoder& encoder, const std::vector<uint8_t>& picture, int n, BenchFigures& figures);

// A fresh capturer and encoder running the real loop for a few seconds;
// prints the live-pump line. `cpuSeconds` reads the process's CPU time.
void runLivePump(BenchFigures& figures, double (*cpuSeconds)());

// The machine-readable line on standard output.
void printFigures(const BenchFigures& figures);

} // namespace dravnok::diagnostics
