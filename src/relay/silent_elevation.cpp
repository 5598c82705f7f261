#include "relay/silent_elevation.h"

namespace dravnok::relay {

bool decideSilentElevation(const ElevationFacts& facts, std::string& reason) {
  if (!facts.tokenOpened) {
    reason = "cannot read this process's token";
    return false;
  }
  if (!facts.typeRead) {
    reason = "cannot read the elevation type";
    return false;
  }
  if (facts.type == ElevationType::Full) {
    reason = "already running as administrator";
    return false;
  }
  if (facts.type == ElevationType::Default) {
    reason = "this Windows user is not an administrator (or UAC is off)";
    return false;
  }
  // Unreadable values count as the system's defaults.
  if (facts.enableLua.value_or(1) == 0) {
    reason = "UAC is off";
    return false;
  }
  const uint32_t consent = facts.consentPromptBehaviorAdmin.value_or(5);
  if (consent == 0) {
    reason.clear();
    return true;
  }
  reason = "Windows would show a UAC prompt on the PC (ConsentPromptBehaviorAdmin=" + std::to_string(consent) + ")";
  return false;
}

} // namespace dravnok::relay
