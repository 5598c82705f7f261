#pragma once
// Reading the optional DRAVNOK_REMOTE_* tuning variables.
#include <optional>
#include <string_view>

namespace dravnok {

// A flag is on when its value has at most 7 characters and begins with
// "1", "T", "t", "Y" or "y".
bool isFlagOn(std::string_view value);

// A decimal integer of at least 1; anything else is ignored.
std::optional<int> parsePositiveNumber(std::string_view value);

bool envFlag(const char* name);
std::optional<int> envNumber(const char* name);
// Empty when the variable is unset.
std::optional<std::string_view> envValue(const char* name);

} // namespace dravnok
