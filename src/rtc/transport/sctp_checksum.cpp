#include "transport/sctp_checksum.hpp"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace rtc::impl {
namespace {

constexpr uint32_t kPolynomial = 0x82f63b78; // CRC32c, reflected

constexpr std::array<uint32_t, 256> makeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (crc & 1 ? kPolynomial : 0);
    table[i] = crc;
  }
  return table;
}

uint32_t crcByTable(uint32_t crc, const uint8_t* data, size_t size) {
  static constexpr auto table = makeTable();
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xff] ^ (crc >> 8);
  return crc;
}

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) uint32_t crcByInstruction(uint32_t crc, const uint8_t* data, size_t size) {
  uint64_t wide = crc;
  for (; size >= 8; size -= 8, data += 8) {
    uint64_t word;
    std::memcpy(&word, data, 8);
    wide = _mm_crc32_u64(wide, word);
  }
  uint32_t narrow = uint32_t(wide);
  for (; size > 0; --size, ++data) narrow = _mm_crc32_u8(narrow, *data);
  return narrow;
}

bool haveInstruction() {
  static const bool have = __builtin_cpu_supports("sse4.2");
  return have;
}
#endif

} // namespace

uint32_t sctpChecksum(const uint8_t* data, size_t size) {
  uint32_t crc = 0xffffffff;
#if defined(__x86_64__)
  crc = haveInstruction() ? crcByInstruction(crc, data, size) : crcByTable(crc, data, size);
#else
  crc = crcByTable(crc, data, size);
#endif
  // The field holds the final value least significant byte first.
  crc = ~crc;
  const uint8_t bytes[4] = {uint8_t(crc), uint8_t(crc >> 8), uint8_t(crc >> 16), uint8_t(crc >> 24)};
  uint32_t stored;
  std::memcpy(&stored, bytes, 4);
  return stored;
}

void setSctpChecksum(uint8_t* packet, size_t size) {
  constexpr size_t kChecksumOffset = 8;
  if (size < kChecksumOffset + 4) return;
  std::memset(packet + kChecksumOffset, 0, 4);
  uint32_t checksum = sctpChecksum(packet, size);
  std::memcpy(packet + kChecksumOffset, &checksum, 4);
}

} // namespace rtc::impl
