#pragma once
// The encode loop's view of time, replaceable in tests.
#include "common/timer_resolution.h"

#include <cstdint>
#include <optional>

namespace dravnok::video {

class LoopClock {
public:
  virtual ~LoopClock() = default;
  // Monotonic nanoseconds.
  virtual int64_t nowNs() = 0;
  virtual void sleepUntilNs(int64_t deadline) = 0;
  // The sample clock that stamps pictures (sampleFrequency() per second).
  virtual int64_t sampleTime() = 0;
  // Held while the loop runs: its short sleeps and the pacer's 2 ms waits
  // need the system timer at 1 ms, whichever encoder is in use.
  virtual void holdFineTimer(bool on) = 0;
};

class SteadyLoopClock final : public LoopClock {
public:
  int64_t nowNs() override;
  void sleepUntilNs(int64_t deadline) override;
  int64_t sampleTime() override { return nowNs(); }
  void holdFineTimer(bool on) override;

private:
  std::optional<FineTimerResolution> fineTimer;
};

// Ticks per second of SteadyLoopClock::sampleTime.
constexpr int64_t sampleFrequency() { return 1'000'000'000; }

} // namespace dravnok::video
