#pragma once
#include <functional>
#include <string>

namespace rtc {

enum class LogLevel { None = 0, Fatal = 1, Error = 2, Warning = 3, Info = 4, Debug = 5, Verbose = 6 };

typedef std::function<void(LogLevel level, std::string message)> LogCallback;

// Routes the library's messages at `level` and below to `callback`
// (to standard error when there is no callback).
void InitLogger(LogLevel level, LogCallback callback = nullptr);

} // namespace rtc
