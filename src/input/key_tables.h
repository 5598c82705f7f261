#pragma once
// The browser's key names (KeyboardEvent.code and KeyboardEvent.key) turned
// into Windows virtual keys. Both programs carry the same tables.
#include <cstdint>
#include <optional>
#include <string_view>

namespace dravnok {

struct KeyInfo {
  uint16_t vk = 0;      // Windows virtual-key code
  uint8_t extended = 0; // 1: the event carries the extended-key flag
  friend bool operator==(const KeyInfo&, const KeyInfo&) = default;
};

// By physical key ("KeyA", "ShiftLeft", "NumpadEnter"), for keydown/keyup.
std::optional<KeyInfo> lookupCode(std::string_view name);
// By key value ("Enter", "ArrowUp"), for the "key" message. Printable
// characters are not here: they travel as typed text.
std::optional<KeyInfo> lookupKeyName(std::string_view name);

// The side-neutral Control key, for the paste shortcut.
inline constexpr uint16_t vkControl = 0x11;

} // namespace dravnok
