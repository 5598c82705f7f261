#pragma once
// Hand-made RTCP packets for the tests, byte by byte.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace dravnok::remote::testing {

class Rtcp {
public:
  Rtcp& u8(uint32_t v) {
    bytes_.push_back(static_cast<std::byte>(v & 0xFF));
    return *this;
  }
  Rtcp& u16(uint32_t v) { return u8(v >> 8).u8(v); }
  Rtcp& u32(uint32_t v) { return u16(v >> 16).u16(v); }
  Rtcp& text(std::string_view s) {
    for (char c : s) u8(static_cast<uint8_t>(c));
    return *this;
  }
  Rtcp& zeros(size_t n) {
    bytes_.resize(bytes_.size() + n);
    return *this;
  }
  // Common header; `words` is the length field (32-bit words minus one).
  Rtcp& header(uint32_t fmt, uint32_t pt, uint32_t words) { return u8(0x80 | fmt).u8(pt).u16(words); }
  Rtcp& append(const Rtcp& other) {
    bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
    return *this;
  }

  const std::byte* data() const { return bytes_.data(); }
  size_t size() const { return bytes_.size(); }
  const std::vector<std::byte>& bytes() const { return bytes_; }

private:
  std::vector<std::byte> bytes_;
};

struct ReportBlock {
  uint32_t ssrc = 42;
  uint32_t fraction = 0;
  uint32_t lsr = 0;
  uint32_t dlsr = 0;
};

inline Rtcp& block(Rtcp& out, const ReportBlock& b) {
  return out.u32(b.ssrc).u8(b.fraction).zeros(11).u32(b.lsr).u32(b.dlsr);
}

inline Rtcp receiverReport(std::initializer_list<ReportBlock> blocks) {
  Rtcp out;
  out.header(static_cast<uint32_t>(blocks.size()), 201, 1 + 6 * static_cast<uint32_t>(blocks.size())).u32(0);
  for (const auto& b : blocks) block(out, b);
  return out;
}

inline Rtcp remb(uint32_t exponent, uint32_t mantissa) {
  Rtcp out;
  out.header(15, 206, 5).u32(0).u32(0).text("REMB").u8(1);
  out.u8(exponent << 2 | (mantissa >> 16 & 3)).u16(mantissa & 0xFFFF).u32(42);
  return out;
}

inline Rtcp pictureLoss(uint32_t fmt = 1) { return Rtcp().header(fmt, 206, 2).u32(1).u32(42); }

inline Rtcp nack(std::initializer_list<uint32_t> blps) {
  Rtcp out;
  out.header(1, 205, 2 + static_cast<uint32_t>(blps.size())).u32(1).u32(42);
  for (uint32_t blp : blps) out.u16(0x1234).u16(blp);
  return out;
}

} // namespace dravnok::remote::testing
