#pragma once
// Small byte builders shared by the rtc tests.
#include "rtc/message.hpp"

#include <initializer_list>
#include <string_view>

namespace rtctest {

inline rtc::binary bytes(std::initializer_list<unsigned> values) {
  rtc::binary out;
  for (unsigned v : values) out.push_back(static_cast<std::byte>(v));
  return out;
}

inline rtc::binary u16(unsigned v) { return bytes({(v >> 8) & 0xFF, v & 0xFF}); }
inline rtc::binary u32(uint32_t v) { return bytes({v >> 24, (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF}); }
inline rtc::binary filled(size_t size, unsigned value) { return rtc::binary(size, static_cast<std::byte>(value)); }
inline rtc::binary text(std::string_view s) {
  return rtc::binary(reinterpret_cast<const std::byte*>(s.data()),
                     reinterpret_cast<const std::byte*>(s.data() + s.size()));
}

inline rtc::binary concat(std::initializer_list<rtc::binary> parts) {
  rtc::binary out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

inline unsigned at(const rtc::binary& data, size_t index) { return std::to_integer<unsigned>(data.at(index)); }
inline unsigned be16(const rtc::binary& data, size_t index) { return at(data, index) << 8 | at(data, index + 1); }
inline uint32_t be32(const rtc::binary& data, size_t index) { return be16(data, index) << 16 | be16(data, index + 2); }

} // namespace rtctest
