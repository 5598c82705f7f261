#pragma once
// The library's own logging, routed to whatever InitLogger installed.
#include "rtc/global.hpp"

#include <string>

namespace rtc::impl {

bool logEnabled(LogLevel level);
void log(LogLevel level, const std::string& message);

} // namespace rtc::impl
