#include "video/loop_clock.h"

#include <chrono>
#include <thread>

namespace dravnok::video {

int64_t SteadyLoopClock::nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SteadyLoopClock::sleepUntilNs(int64_t deadline) {
  std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(deadline)));
}

void SteadyLoopClock::holdFineTimer(bool on) {
  if (!on)
    fineTimer.reset();
  else if (!fineTimer)
    fineTimer.emplace();
}

} // namespace dravnok::video
