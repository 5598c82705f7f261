#pragma once
// Platform-neutral input records: what the injector decides to send, in the
// shape of the Windows INPUT record so that the Windows backend copies them
// field for field and other backends translate them.
#include <cstdint>
#include <variant>

namespace dravnok {

namespace mouseflag {
inline constexpr uint32_t move = 0x0001;
inline constexpr uint32_t leftDown = 0x0002;
inline constexpr uint32_t leftUp = 0x0004;
inline constexpr uint32_t rightDown = 0x0008;
inline constexpr uint32_t rightUp = 0x0010;
inline constexpr uint32_t middleDown = 0x0020;
inline constexpr uint32_t middleUp = 0x0040;
inline constexpr uint32_t wheel = 0x0800;
inline constexpr uint32_t hwheel = 0x1000;
inline constexpr uint32_t virtualDesk = 0x4000;
inline constexpr uint32_t absolute = 0x8000;
// An absolute move onto the whole virtual desktop.
inline constexpr uint32_t absoluteMove = move | absolute | virtualDesk;
} // namespace mouseflag

namespace keyflag {
inline constexpr uint32_t extendedKey = 0x0001;
inline constexpr uint32_t keyUp = 0x0002;
inline constexpr uint32_t unicode = 0x0004;
} // namespace keyflag

// Coordinates of an absolute move run from 0 to this value across the
// virtual desktop.
inline constexpr int32_t normalizedMax = 65535;
// One wheel notch.
inline constexpr int32_t wheelDelta = 120;

struct MouseInput {
  int32_t dx = 0;
  int32_t dy = 0;
  int32_t mouseData = 0; // wheel amount (signed), 0 otherwise
  uint32_t flags = 0;
  friend bool operator==(const MouseInput&, const MouseInput&) = default;
};

struct KeyboardInput {
  uint16_t vk = 0;
  uint16_t scan = 0; // the UTF-16 unit for Unicode input, 0 otherwise
  uint32_t flags = 0;
  friend bool operator==(const KeyboardInput&, const KeyboardInput&) = default;
};

using InputRecord = std::variant<MouseInput, KeyboardInput>;

} // namespace dravnok
