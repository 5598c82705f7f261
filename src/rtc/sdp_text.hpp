#pragma once
// Small text helpers shared by the SDP, candidate and URL parsers.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rtc::impl {

std::vector<std::string> splitLines(std::string_view text);
std::vector<std::string> splitWords(std::string_view text);
std::string toLower(std::string_view text);
std::string toUpper(std::string_view text);
// Whole-string unsigned decimal, nothing else allowed.
std::optional<uint64_t> parseUnsigned(std::string_view text);

} // namespace rtc::impl
