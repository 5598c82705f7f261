#include "input/key_tables.h"

#include <string>
#include <string_view>
#include <unordered_map>

namespace dravnok {
namespace {

// Transparent hashing so that lookups by string_view need no allocation.
struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
};
using KeyMap = std::unordered_map<std::string, KeyInfo, NameHash, std::equal_to<>>;

struct Listed {
  const char* name;
  uint16_t vk;
  uint8_t extended;
};

constexpr Listed listedCodes[] = {
    {"ControlLeft", 0xA2, 0},  {"ControlRight", 0xA3, 1},   {"ShiftLeft", 0xA0, 0},
    {"ShiftRight", 0xA1, 0},   {"AltLeft", 0xA4, 0},        {"AltRight", 0xA5, 1},
    {"MetaLeft", 0x5B, 1},     {"MetaRight", 0x5C, 1},      {"ContextMenu", 0x5D, 1},
    {"Enter", 0x0D, 0},        {"Space", 0x20, 0},          {"Tab", 0x09, 0},
    {"Backspace", 0x08, 0},    {"Escape", 0x1B, 0},         {"CapsLock", 0x14, 0},
    {"Insert", 0x2D, 1},       {"Delete", 0x2E, 1},         {"Home", 0x24, 1},
    {"End", 0x23, 1},          {"PageUp", 0x21, 1},         {"PageDown", 0x22, 1},
    {"ArrowUp", 0x26, 1},      {"ArrowDown", 0x28, 1},      {"ArrowLeft", 0x25, 1},
    {"ArrowRight", 0x27, 1},   {"Backquote", 0xC0, 0},      {"Minus", 0xBD, 0},
    {"Equal", 0xBB, 0},        {"BracketLeft", 0xDB, 0},    {"BracketRight", 0xDD, 0},
    {"Backslash", 0xDC, 0},    {"Semicolon", 0xBA, 0},      {"Quote", 0xDE, 0},
    {"Comma", 0xBC, 0},        {"Period", 0xBE, 0},         {"Slash", 0xBF, 0},
    {"NumpadAdd", 0x6B, 0},    {"NumpadSubtract", 0x6D, 0}, {"NumpadMultiply", 0x6A, 0},
    {"NumpadDivide", 0x6F, 1}, {"NumpadDecimal", 0x6E, 0},  {"NumpadEnter", 0x0D, 1},
    {"NumLock", 0x90, 1},      {"PrintScreen", 0x2C, 1},    {"ScrollLock", 0x91, 0},
    {"Pause", 0x13, 0},
};

constexpr Listed listedKeyNames[] = {
    {"Enter", 0x0D, 0},     {"Backspace", 0x08, 0}, {"Tab", 0x09, 0},        {"Escape", 0x1B, 0},
    {"Delete", 0x2E, 1},    {"Home", 0x24, 1},      {"End", 0x23, 1},        {"ArrowUp", 0x26, 1},
    {"ArrowDown", 0x28, 1}, {"ArrowLeft", 0x25, 1}, {"ArrowRight", 0x27, 1},
};

// "F1", "Numpad0": appended rather than "F" + std::to_string(n), in which
// GCC 12 at -O3 sees a false overlap (-Wrestrict, an error with -Werror).
std::string numbered(std::string_view prefix, int n) {
  std::string name(prefix);
  name += std::to_string(n);
  return name;
}

KeyMap buildCodeKeyMap() {
  KeyMap map;
  for (char c = 'A'; c <= 'Z'; ++c) map.insert_or_assign(std::string("Key") + c, KeyInfo{uint16_t(c), 0});
  for (char c = '0'; c <= '9'; ++c) map.insert_or_assign(std::string("Digit") + c, KeyInfo{uint16_t(c), 0});
  for (int n = 1; n <= 24; ++n) map.insert_or_assign(numbered("F", n), KeyInfo{uint16_t(0x6F + n), 0});
  for (const Listed& entry : listedCodes) map.insert_or_assign(entry.name, KeyInfo{entry.vk, entry.extended});
  for (int n = 0; n <= 9; ++n) map.insert_or_assign(numbered("Numpad", n), KeyInfo{uint16_t(0x60 + n), 0});
  return map;
}

KeyMap buildKeyNameMap() {
  KeyMap map;
  for (const Listed& entry : listedKeyNames) map.insert_or_assign(entry.name, KeyInfo{entry.vk, entry.extended});
  return map;
}

std::optional<KeyInfo> find(const KeyMap& map, std::string_view name) {
  auto it = map.find(name);
  if (it == map.end()) return std::nullopt;
  return it->second;
}

} // namespace

std::optional<KeyInfo> lookupCode(std::string_view name) {
  // Built on first use; a function-local static is a thread-safe one-time init.
  static const KeyMap codeKeyMap = buildCodeKeyMap();
  return find(codeKeyMap, name);
}

std::optional<KeyInfo> lookupKeyName(std::string_view name) {
  static const KeyMap keyNameMap = buildKeyNameMap();
  return find(keyNameMap, name);
}

} // namespace dravnok
