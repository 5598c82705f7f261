#pragma once
// The elevated input relay of a session: whether it is started, and with
// which display.
#include "relay/relay_client.h"
#include "relay/silent_elevation.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace dravnok {

using SessionLogFn = std::function<void(const std::string& level, const std::string& message)>;
// True when the relay can start without anyone at the PC being asked;
// otherwise false with a reason.
using ElevationCheck = std::function<bool(std::string& reason)>;

struct RelayDisplay {
  int32_t width = 0;
  int32_t height = 0;
  int32_t left = 0;
  int32_t top = 0;
};

// A controlling session gets a started relay when the check allows it; the
// relay logs through `log` unchanged. Without one (view-only, not allowed, or
// no launch thread) the result is empty and the reason is logged.
std::unique_ptr<relay::RelayClient> startElevatedRelay(bool viewOnly, uint32_t parentPid, const RelayDisplay& display,
                                                       const SessionLogFn& log,
                                                       const ElevationCheck& canElevate = relay::canElevateSilently);

} // namespace dravnok
