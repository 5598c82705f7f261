#include "log.hpp"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

namespace rtc {
namespace {

struct Logger {
  std::mutex mutex;
  std::atomic<LogLevel> level{LogLevel::None};
  std::shared_ptr<LogCallback> callback;
};

Logger& logger() {
  static Logger instance;
  return instance;
}

} // namespace

void InitLogger(LogLevel level, LogCallback callback) {
  auto& l = logger();
  std::lock_guard lock(l.mutex);
  l.level = level;
  l.callback = callback ? std::make_shared<LogCallback>(std::move(callback)) : nullptr;
}

namespace impl {

bool logEnabled(LogLevel level) {
  return level != LogLevel::None && static_cast<int>(level) <= static_cast<int>(logger().level.load());
}

void log(LogLevel level, const std::string& message) {
  if (!logEnabled(level)) return;
  std::shared_ptr<LogCallback> callback;
  {
    std::lock_guard lock(logger().mutex);
    callback = logger().callback;
  }
  // The callback runs without the lock so that it may log or re-initialise.
  if (callback) {
    (*callback)(level, message);
  } else {
    std::fprintf(stderr, "rtc: %s\n", message.c_str());
  }
}

} // namespace impl
} // namespace rtc
