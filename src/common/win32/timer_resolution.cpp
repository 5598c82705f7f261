#include "common/timer_resolution.h"

#include <windows.h>

#include <timeapi.h>

namespace dravnok {

FineTimerResolution::FineTimerResolution() : raised_(timeBeginPeriod(1) == TIMERR_NOERROR) {}

FineTimerResolution::~FineTimerResolution() {
  if (raised_) timeEndPeriod(1);
}

} // namespace dravnok
