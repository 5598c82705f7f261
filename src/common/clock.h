#pragma once
// The local wall-clock time of day, for log time stamps.
namespace dravnok {

struct TimeOfDay {
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

TimeOfDay localTimeOfDay();

} // namespace dravnok
