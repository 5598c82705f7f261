#include "congestion/clock.h"

#include <chrono>

namespace dravnok::remote {
namespace {

class SystemClock final : public Clock {
public:
  int64_t steadyNs() override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  int64_t wallTicks() override {
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch()).count();
  }

  void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, int64_t deadlineNs,
                 const std::function<bool()>& done) override {
    const std::chrono::steady_clock::time_point deadline{
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::nanoseconds(deadlineNs))};
    wake.wait_until(lock, deadline, done);
  }
};

} // namespace

std::shared_ptr<Clock> systemClock() {
  static const std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
  return clock;
}

} // namespace dravnok::remote
