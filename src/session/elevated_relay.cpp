#include "session/elevated_relay.h"

#include <exception>

namespace dravnok {

std::unique_ptr<relay::RelayClient> startElevatedRelay(bool viewOnly, uint32_t parentPid, const RelayDisplay& display,
                                                       const SessionLogFn& log, const ElevationCheck& canElevate) {
  // A view-only viewer sends no input, so there is nothing to elevate.
  if (viewOnly) return nullptr;
  std::string reason;
  if (!canElevate(reason)) {
    log("info", "input: no elevated relay (" + reason + ")");
    return nullptr;
  }
  auto client = std::make_unique<relay::RelayClient>(log);
  try {
    client->start(parentPid, display.width, display.height, display.left, display.top);
  } catch (const std::exception& e) {
    // Without its launch thread the relay would never connect; the session
    // goes on with local input rather than failing.
    log("warn", std::string("input: elevated relay not started \u2014 ") + e.what());
    return nullptr;
  }
  return client;
}

} // namespace dravnok
