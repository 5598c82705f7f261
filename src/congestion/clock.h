#pragma once
// The time sources of the congestion control. Production code uses the
// steady clock for every interval and the wall clock only for the NTP-based
// round-trip time; tests substitute a clock they drive themselves so that the
// control rules can be checked against exact times.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace dravnok::remote {

class Clock {
public:
  virtual ~Clock() = default;

  // Monotonic time in nanoseconds.
  virtual int64_t steadyNs() = 0;
  // Wall-clock time in 100-nanosecond units since 1970-01-01.
  virtual int64_t wallTicks() = 0;
  // Waits on `wake` (whose mutex `lock` holds) until this clock reaches
  // `deadlineNs` or `done()` is true. Notifications alone do not end the
  // wait, so callers get a full pause unless they are being shut down.
  virtual void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, int64_t deadlineNs,
                         const std::function<bool()>& done) = 0;

  int64_t steadyMs() { return steadyNs() / 1'000'000; }
};

// The steady clock and the system's wall clock.
std::shared_ptr<Clock> systemClock();

} // namespace dravnok::remote
