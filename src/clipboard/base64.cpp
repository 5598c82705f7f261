#include "clipboard/base64.h"

#include <array>
#include <cstdint>

namespace dravnok::clipboard {
namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kInvalid = 0xFF;

constexpr std::array<uint8_t, 256> makeDecodeTable() {
  std::array<uint8_t, 256> table{};
  table.fill(kInvalid);
  for (size_t i = 0; i < kAlphabet.size(); ++i) table[static_cast<uint8_t>(kAlphabet[i])] = static_cast<uint8_t>(i);
  return table;
}

constexpr std::array<uint8_t, 256> kDecodeTable = makeDecodeTable();

} // namespace

std::string base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])); };
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t group = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    out += kAlphabet[group >> 18];
    out += kAlphabet[(group >> 12) & 63];
    out += kAlphabet[(group >> 6) & 63];
    out += kAlphabet[group & 63];
  }
  size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t group = byte(i) << 16 | (rest == 2 ? byte(i + 1) << 8 : 0);
    out += kAlphabet[group >> 18];
    out += kAlphabet[(group >> 12) & 63];
    out += rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string base64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    uint8_t value = kDecodeTable[static_cast<uint8_t>(c)];
    if (value == kInvalid) continue;
    bits = (bits << 6) | value;
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

} // namespace dravnok::clipboard
