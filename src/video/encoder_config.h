#pragma once
// Encoder settings and the rate-derived numbers the encode loop works from.
#include <cstdint>
#include <functional>

namespace dravnok::video {

struct EncoderConfig {
  int32_t width = 0;
  int32_t height = 0;
  int32_t fps = 30;
  // 0: key frames only on request.
  int32_t gopSeconds = 0;
};

// Receives every access unit (Annex-B): bytes valid during the call, length
// never 0, IDR flag, capture time on the sample clock.
using FrameSink = std::function<void(const uint8_t* data, size_t length, bool keyFrame, int64_t timestamp)>;

// Encoders want even sizes of at least 2.
int32_t evenEncodeDimension(int32_t value);

// 0.13 bits per pixel per frame, kept between 2 and 8 Mbit/s.
int32_t startBitrate(int32_t width, int32_t height, int32_t fps);

// The highest quality worth spending at target bitrate `target` (0: none known).
int32_t qualityCeiling(uint32_t target, int32_t qualityTarget);

// Quality 1..100 onto the quantiser scale of H.264 encoders (lower is
// better): 92 gives about 15, the loop's floor of 40 about 35, so that the
// loop's steps act alike on every encoder.
double quantizerScaleFor(int32_t quality);

// Key frames are large; they are encoded below the running quality.
int32_t keyFrameQuality(uint32_t target);

// The frame rate the loop paces to: never below 5.
int32_t currentFrameRate(int32_t rateControllerFps, int32_t configuredFps, int32_t fpsCap);

} // namespace dravnok::video
