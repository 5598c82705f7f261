#pragma once
// The text forms of binary values that the broker's identities and the
// support link use: base32 (RFC 4648 alphabet, no padding) and base64, both
// standard and URL-safe without padding.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dravnok::agent {

std::string base32Encode(std::span<const uint8_t> bytes);
// Nothing for a character outside the alphabet or a length no encoder makes.
std::optional<std::vector<uint8_t>> base32Decode(std::string_view text);

std::string base64Encode(std::span<const uint8_t> bytes);    // with '=' padding
std::string base64UrlEncode(std::span<const uint8_t> bytes); // '-' and '_', no padding

inline std::span<const uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

} // namespace dravnok::agent
