#include "relay/silent_elevation.h"

namespace dravnok::relay {

bool canElevateSilently(std::string& reason) {
  reason = "no elevated relay on this platform";
  return false;
}

} // namespace dravnok::relay
