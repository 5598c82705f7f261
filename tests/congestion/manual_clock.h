#pragma once
// A clock that tests set. Every timed wait jumps the clock to its deadline
// at once, so a worker thread runs through its schedule at full speed and at
// exact times; `lateNextWait` makes one wait overshoot, as a descheduled
// thread would, and `freeze` makes waits last until their owner stops.
#include "congestion/clock.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace dravnok::remote::testing {

class ManualClock final : public Clock {
public:
  explicit ManualClock(int64_t startMs = 1'000'000) : now_(startMs * 1'000'000) {}

  int64_t steadyNs() override { return now_.load(); }
  int64_t wallTicks() override { return wall_.load(); }

  void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, int64_t deadlineNs,
                 const std::function<bool()>& done) override {
    if (frozen_.load()) {
      wake.wait(lock, done);
      return;
    }
    if (done()) return;
    advanceTo(deadlineNs + lateNs_.exchange(0));
    if (onWait_) onWait_(now_.load());
  }

  void advanceMs(int64_t ms) { now_.fetch_add(ms * 1'000'000); }
  void setWallTicks(int64_t ticks) { wall_.store(ticks); }
  void lateNextWait(int64_t ms) { lateNs_.store(ms * 1'000'000); }
  void freeze() { frozen_.store(true); }
  // Called on the waiting thread after each wait; set before the worker runs.
  void onWait(std::function<void(int64_t nowNs)> hook) { onWait_ = std::move(hook); }

private:
  void advanceTo(int64_t ns) {
    int64_t now = now_.load();
    while (now < ns && !now_.compare_exchange_weak(now, ns)) {
    }
  }

  std::atomic<int64_t> now_;
  std::atomic<int64_t> wall_{0};
  std::atomic<int64_t> lateNs_{0};
  std::atomic<bool> frozen_{false};
  std::function<void(int64_t)> onWait_;
};

} // namespace dravnok::remote::testing
