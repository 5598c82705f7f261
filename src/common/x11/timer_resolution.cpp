#include "common/timer_resolution.h"

namespace dravnok {

// Linux timed waits use high-resolution timers already.
FineTimerResolution::FineTimerResolution() = default;
FineTimerResolution::~FineTimerResolution() = default;

} // namespace dravnok
