#pragma once
// "<operation> failed (hr=0x........)", cut to 127 characters.
#include <cstdio>
#include <string>

namespace dravnok::capture {

inline std::string failedCall(const char* operation, long hr) {
  char text[128];
  std::snprintf(text, sizeof text, "%s failed (hr=0x%08lX)", operation, static_cast<unsigned long>(hr));
  return text;
}

} // namespace dravnok::capture
