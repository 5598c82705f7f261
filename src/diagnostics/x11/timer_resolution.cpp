#include "diagnostics/timer_resolution.h"

namespace dravnok::diagnostics {

// Linux timed waits use high-resolution timers already.
FineTimerResolution::FineTimerResolution() = default;
FineTimerResolution::~FineTimerResolution() = default;

} // namespace dravnok::diagnostics
