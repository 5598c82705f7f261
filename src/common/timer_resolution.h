#pragma once
// Raises the system timer resolution to 1 ms for its lifetime, so that short
// timed waits (the pacer's 2 ms pauses) are not stretched to a scheduler
// tick. Nothing to do where waits are already that precise.
namespace dravnok {

class FineTimerResolution {
public:
  FineTimerResolution();
  ~FineTimerResolution();
  FineTimerResolution(const FineTimerResolution&) = delete;
  FineTimerResolution& operator=(const FineTimerResolution&) = delete;

private:
  [[maybe_unused]] bool raised_ = false;
};

} // namespace dravnok
