#include "common/clock.h"

#include <ctime>
#include <sys/time.h>

namespace dravnok {

TimeOfDay localTimeOfDay() {
  timeval now{};
  gettimeofday(&now, nullptr);
  std::tm local{};
  localtime_r(&now.tv_sec, &local);
  return {local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(now.tv_usec / 1000)};
}

} // namespace dravnok
