#include "common/env.h"

#include <charconv>
#include <cstdlib>

namespace dravnok {

bool isFlagOn(std::string_view value) {
  if (value.empty() || value.size() > 7) return false;
  switch (value.front()) {
  case '1':
  case 'T':
  case 't':
  case 'Y':
  case 'y':
    return true;
  default:
    return false;
  }
}

std::optional<int> parsePositiveNumber(std::string_view value) {
  int number = 0;
  auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (ec != std::errc{} || end == value.data() || number < 1) return std::nullopt;
  return number;
}

std::optional<std::string_view> envValue(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string_view(value);
}

bool envFlag(const char* name) {
  auto value = envValue(name);
  return value && isFlagOn(*value);
}

std::optional<int> envNumber(const char* name) {
  auto value = envValue(name);
  return value ? parsePositiveNumber(*value) : std::nullopt;
}

} // namespace dravnok
