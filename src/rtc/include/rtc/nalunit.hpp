#pragma once
#include "rtc/common.hpp"

#include <span>

namespace rtc {

// One H.264 NAL unit (header byte first, without separator).
struct NalUnit : binary {
  // How NAL units are delimited in the packetizer's input. Length: 4-byte
  // big-endian length prefixes. The start sequence forms are Annex-B byte
  // streams: start codes 00 00 01 and 00 00 00 01 are both accepted, since
  // a valid byte stream may mix them.
  enum class Separator { Length, LongStartSequence, ShortStartSequence, StartSequence };

  NalUnit() = default;
  explicit NalUnit(std::span<const byte> data) : binary(data.begin(), data.end()) {}

  bool forbiddenBit() const { return !empty() && (std::to_integer<uint8_t>(front()) & 0x80) != 0; }
  uint8_t nri() const { return empty() ? 0 : (std::to_integer<uint8_t>(front()) >> 5) & 0x03; }
  uint8_t unitType() const { return empty() ? 0 : std::to_integer<uint8_t>(front()) & 0x1F; }

  // Splits an access unit into its NAL units, as views into `data`. Empty
  // units are skipped, trailing zero octets dropped (a NAL unit never ends
  // in one), and a length prefix that overruns the data ends the split.
  static std::vector<std::span<const byte>> split(std::span<const byte> data, Separator separator);
};

} // namespace rtc
