#pragma once
// The encode loop: paces capture, conversion and encoding, decides key
// frames, re-encodes the last picture when that is cheaper than a capture,
// and moves quality and a frame-rate cap to keep near the target bitrate.
#include "video/encoder_backend.h"
#include "video/loop_clock.h"
#include "video/picture_source.h"
#include "video/rate_source.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dravnok::video {

class EncodeLoop {
public:
  // `backend` must already be open at `width`x`height`.
  EncodeLoop(EncoderBackend& backend, LoopClock& clock, int32_t width, int32_t height, int32_t fps, int32_t quality);
  ~EncodeLoop();
  EncodeLoop(const EncodeLoop&) = delete;
  EncodeLoop& operator=(const EncodeLoop&) = delete;

  void setRateSource(std::shared_ptr<RateSource> source) { rate = std::move(source); }
  void setFrameSink(FrameSink sink) { frameSink = std::move(sink); }

  // Starts the loop thread on `source` (not owned; must outlive stop()).
  void start(PictureSource& source);
  void stop();

  void setActive(bool value);
  void requestKeyFrame(bool urgent);
  // The statistics since the last call; resets them.
  std::string statisticsLine();

  // Tells the encoder a stream begins and where asynchronous output goes;
  // start() does this before the first pass.
  void beginStreaming();
  // One pass of the loop (the thread runs these while running); for tests.
  void runPass();
  void attachSource(PictureSource& source) { this->source = &source; }

  int32_t quality() const { return currentQuality; }
  int32_t fpsCap() const { return cap; }
  int32_t frameRate() const;
  int64_t lastIdrMs() const { return lastIdr.load(); }

  static constexpr int32_t qualityTarget = 92;
  static constexpr int32_t qualityFloor = 40;

private:
  uint32_t targetBitrate() const;
  void adapt(int64_t m);
  bool applyQuality(int32_t q);
  bool encodePicture(const uint8_t* nv12, int64_t timestamp, bool forceKey, bool recordDeltas);
  void deliver(const uint8_t* data, size_t length, bool keyFrame, int64_t timestamp, bool recordDeltas);
  void account(int64_t passStart, double acquireMs, double convertMs, double encodeMs);
  void idle(int64_t passStart, int64_t intervalNs);
  int64_t nowMs() { return clock.nowNs() / 1'000'000; }

  EncoderBackend& backend;
  LoopClock& clock;
  const int32_t width;
  const int32_t height;
  const int32_t configuredFps;
  std::shared_ptr<RateSource> rate;
  FrameSink frameSink;
  PictureSource* source = nullptr;
  std::thread thread;
  bool fineTimerHeld = false;

  std::atomic<bool> running{false};
  std::atomic<bool> active{false};
  std::atomic<bool> keyFrameRequested{false};
  std::atomic<bool> keyFrameUrgent{false};
  std::atomic<int64_t> lastIdr{0};

  // Loop thread only.
  int32_t currentQuality;
  int32_t cap = 30;
  int64_t lastQualityDownMs = 0, lastQualityUpMs = 0, lastFpsChangeMs = 0;
  int64_t overshootSinceMs = 0, undershootSinceMs = 0, lastAdaptMs = 0;
  int64_t lastEncodeMs = 0, lastRefineMs = 0;
  int32_t lastEncodeQuality = qualityTarget;
  std::deque<std::pair<int64_t, uint32_t>> deltaSizes;
  // The next picture and the last one where the encoder lends no buffers.
  std::vector<uint8_t> ownPictures[2];
  // The last picture converted, for re-encoding; null before the first.
  const uint8_t* lastPicture = nullptr;
  bool producedBefore = false;
  int64_t lastProducingStartNs = 0;
  std::atomic<int32_t> publishedQuality;
  std::atomic<int32_t> publishedFps{30};

  struct Statistics {
    int64_t windowStartMs = 0;
    uint32_t frames = 0, keyFrames = 0, cached = 0, refine = 0, skip = 0;
    uint64_t bytes = 0;
    double acquireMs = 0, convertMs = 0, encodeMs = 0, longestPassMs = 0;
  };
  std::mutex statsMutex;
  Statistics stats;
};

} // namespace dravnok::video
