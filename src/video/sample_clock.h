#pragma once
// Presentation times of converted pictures, in 100 ns units from the first
// one; strictly increasing even when the counter does not advance.
#include <cstdint>

namespace dravnok::video {

class SampleClock {
public:
  // `frequency`: performance-counter ticks per second.
  explicit SampleClock(int64_t frequency) : frequency(frequency) {}

  // The time of a picture taken at counter value `counter`, at `frameRate`
  // frames per second (at least 5 is used).
  int64_t sampleTime(int64_t counter, int frameRate);

private:
  int64_t frequency;
  int64_t base = 0;
  int64_t last = -1;
};

} // namespace dravnok::video
