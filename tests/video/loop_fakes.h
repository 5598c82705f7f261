#pragma once
// A settable clock, a scripted screen and an encoder that records what it
// was asked to do, for driving the encode loop pass by pass.
#include "video/encoder_backend.h"
#include "video/loop_clock.h"
#include "video/picture_source.h"
#include "video/rate_source.h"

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace dravnok::video::testing {

class ManualClock final : public LoopClock {
public:
  int64_t now = 10'000'000'000; // away from 0, which the loop reads as "never"
  int64_t nowNs() override { return now; }
  void sleepUntilNs(int64_t deadline) override { now = std::max(now, deadline); }
  int64_t sampleTime() override { return now; }
  int64_t ms() const { return now / 1'000'000; }
  int fineTimerHolds = 0;
  void holdFineTimer(bool on) override { fineTimerHolds += on ? 1 : -1; }
};

class ScriptedScreen final : public PictureSource {
public:
  explicit ScriptedScreen(ManualClock& clock) : clock(clock) {}
  // The screen changes at every acquisition while set.
  bool changing = true;
  int acquisitions = 0, conversions = 0, releases = 0, freshRequests = 0, lastTimeoutMs = -1;
  // Where each picture was converted to; its first byte is its number.
  std::vector<const uint8_t*> targets;

  bool acquire(int timeoutMs) override {
    ++acquisitions;
    lastTimeoutMs = timeoutMs;
    if (changing || fresh) {
      fresh = false;
      return true;
    }
    clock.now += static_cast<int64_t>(timeoutMs) * 1'000'000;
    return false;
  }
  bool convert(uint8_t* nv12) override {
    targets.push_back(nv12);
    nv12[0] = static_cast<uint8_t>(++conversions);
    return true;
  }
  void release() override { ++releases; }
  void requestFreshFrame() override {
    ++freshRequests;
    fresh = true;
  }
  bool screenCopyMode() const override { return false; }

private:
  ManualClock& clock;
  bool fresh = false;
};

struct EncodeCall {
  int64_t atMs;
  bool forced;
  int32_t quality;
  bool operator==(const EncodeCall&) const = default;
};

class RecordingEncoder final : public EncoderBackend {
public:
  // Failing to open, it says it tried a hardware encoder.
  explicit RecordingEncoder(ManualClock& clock, bool opens = true) : opens(opens), clock(clock) {}
  const bool opens;
  std::vector<EncodeCall> calls;
  int32_t quality = 92, frameRate = 0;
  void setFrameRate(int32_t fps) override { frameRate = fps; }
  // Loop-clock time one encode takes.
  int64_t encodeNs = 0;
  // Bytes of the next delta frame; key frames are 4x that.
  std::function<size_t()> deltaBytes = [] { return size_t{1000}; };

  bool open(const EncoderConfig&, int32_t, int32_t q, bool& hardware, std::string& error) override {
    hardware = !opens;
    error = "missing";
    quality = q;
    return opens;
  }
  std::string describeSettings() override { return "fake"; }
  const char* name() const override { return "fake"; }
  bool setQuality(int32_t q) override {
    quality = q;
    return true;
  }
  // Asynchronous: encode() only queues; the test plays the encoder's
  // thread through `streamOutput`.
  bool async = false;
  TimedOutput streamOutput;
  bool asynchronous() const override { return async; }
  void beginStreaming(TimedOutput output) override { streamOutput = std::move(output); }

  // The first byte of every picture encoded.
  std::vector<uint8_t> pictures;
  bool encode(const uint8_t* nv12, int64_t, bool forced, const EncodedOutput& output) override {
    calls.push_back({clock.ms(), forced, quality});
    if (nv12) pictures.push_back(nv12[0]);
    if (async) return true;
    std::vector<uint8_t> unit(forced ? deltaBytes() * 4 : deltaBytes(), 0x55);
    output(unit.data(), unit.size(), forced);
    clock.now += encodeNs;
    return true;
  }
  void flush(const EncodedOutput&) override {}

private:
  ManualClock& clock;
};

class SettableRate final : public RateSource {
public:
  uint32_t bitrate = 0;
  int32_t fps = 30;
  bool keyframe = false;
  int64_t pacerMs = 0;
  uint32_t targetBitrate() override { return bitrate; }
  int32_t targetFrameRate() override { return fps; }
  bool takeKeyframeRequest() override { return std::exchange(keyframe, false); }
  int64_t pacerQueueMs() override { return pacerMs; }
};

} // namespace dravnok::video::testing
