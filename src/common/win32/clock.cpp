#include "common/clock.h"

#include <windows.h>

namespace dravnok {

TimeOfDay localTimeOfDay() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

} // namespace dravnok
