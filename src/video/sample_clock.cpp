#include "video/sample_clock.h"

#include <algorithm>

namespace dravnok::video {

int64_t SampleClock::sampleTime(int64_t counter, int frameRate) {
  constexpr int64_t kUnitsPerSecond = 10'000'000;
  const int64_t step = kUnitsPerSecond / std::max(frameRate, 5);
  int64_t result;
  if (counter > 0 && frequency > 0) {
    if (base == 0) base = counter;
    // Split so that the multiplication cannot overflow on long uptimes.
    const int64_t ticks = counter - base;
    const int64_t t = ticks / frequency * kUnitsPerSecond + ticks % frequency * kUnitsPerSecond / frequency;
    result = t > last ? t : last + 1;
  } else {
    result = last < 0 ? 0 : last + step;
  }
  last = result;
  return result;
}

} // namespace dravnok::video
