#include "agent/text_codec.h"

namespace dravnok::agent {
namespace {

constexpr char kBase32[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";

std::string base64With(std::span<const uint8_t> bytes, const char* alphabet, bool pad) {
  std::string text;
  uint32_t bits = 0;
  int count = 0;
  for (uint8_t byte : bytes) {
    bits = (bits << 8) | byte;
    for (count += 8; count >= 6; count -= 6) text += alphabet[(bits >> (count - 6)) & 63];
  }
  if (count > 0) text += alphabet[(bits << (6 - count)) & 63];
  while (pad && text.size() % 4) text += '=';
  return text;
}

} // namespace

std::string base32Encode(std::span<const uint8_t> bytes) {
  std::string text;
  uint32_t bits = 0;
  int count = 0;
  for (uint8_t byte : bytes) {
    bits = (bits << 8) | byte;
    for (count += 8; count >= 5; count -= 5) text += kBase32[(bits >> (count - 5)) & 31];
  }
  if (count > 0) text += kBase32[(bits << (5 - count)) & 31];
  return text;
}

std::optional<std::vector<uint8_t>> base32Decode(std::string_view text) {
  // 1, 3 and 6 leftover characters carry too few bits for a whole byte.
  size_t rest = text.size() % 8;
  if (rest == 1 || rest == 3 || rest == 6) return std::nullopt;
  std::vector<uint8_t> bytes;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    uint32_t value;
    if (c >= 'A' && c <= 'Z')
      value = static_cast<uint32_t>(c - 'A');
    else if (c >= '2' && c <= '7')
      value = static_cast<uint32_t>(c - '2' + 26);
    else
      return std::nullopt;
    bits = (bits << 5) | value;
    count += 5;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(static_cast<uint8_t>(bits >> count));
    }
  }
  return bytes;
}

std::string base64Encode(std::span<const uint8_t> bytes) {
  return base64With(bytes, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", true);
}

std::string base64UrlEncode(std::span<const uint8_t> bytes) {
  return base64With(bytes, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_", false);
}

} // namespace dravnok::agent
