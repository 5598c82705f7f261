#pragma once
// Network byte order reads and writes on raw packet bytes. Callers check
// bounds first; these never do.
#include <cstddef>
#include <cstdint>

namespace rtc::impl {

inline uint16_t readBe16(const std::byte* p) {
  return static_cast<uint16_t>((std::to_integer<unsigned>(p[0]) << 8) | std::to_integer<unsigned>(p[1]));
}

inline uint32_t readBe32(const std::byte* p) { return (uint32_t{readBe16(p)} << 16) | readBe16(p + 2); }

inline void writeBe16(std::byte* p, uint16_t value) {
  p[0] = static_cast<std::byte>(value >> 8);
  p[1] = static_cast<std::byte>(value);
}

inline void writeBe32(std::byte* p, uint32_t value) {
  writeBe16(p, static_cast<uint16_t>(value >> 16));
  writeBe16(p + 2, static_cast<uint16_t>(value));
}

inline uint8_t byteAt(const std::byte* p, size_t index) { return std::to_integer<uint8_t>(p[index]); }

} // namespace rtc::impl
