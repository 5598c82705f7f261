#pragma once
// Whether the relay can be started elevated without the user being asked.
#include <cstdint>
#include <optional>
#include <string>

namespace dravnok::relay {

enum class ElevationType { Default, Full, Limited };

// What the decision looks at, read from the process token and the system's
// account control policy. An empty registry value could not be read.
struct ElevationFacts {
  bool tokenOpened = false;
  bool typeRead = false;
  ElevationType type = ElevationType::Default;
  std::optional<uint32_t> enableLua;
  std::optional<uint32_t> consentPromptBehaviorAdmin;
};

// True when starting the relay shows no prompt; otherwise false with `reason`.
bool decideSilentElevation(const ElevationFacts& facts, std::string& reason);

// The decision for this process on this computer.
bool canElevateSilently(std::string& reason);

} // namespace dravnok::relay
