#pragma once
// Exceptions must not leave a thread's loop (that ends the process) nor unwind
// through the frames of the C libraries that call us (GLib, usrsctp, OpenSSL),
// whose state they would leave half changed. One that gets this far, from an
// application callback or our own handling, is logged and dropped.
#include "log.hpp"

#include <exception>
#include <string>
#include <type_traits>

namespace rtc::impl {

inline void logEscaped(const char* where) noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    log(LogLevel::Error, std::string("exception in ") + where + ": " + e.what());
  } catch (...) {
    log(LogLevel::Error, std::string("unknown exception in ") + where);
  }
}

template <typename F> void guarded(const char* where, F&& f) noexcept {
  try {
    f();
  } catch (...) {
    logEscaped(where);
  }
}

template <typename F, typename R = std::invoke_result_t<F>> R guarded(const char* where, F&& f, R fallback) noexcept {
  try {
    return f();
  } catch (...) {
    logEscaped(where);
    return fallback;
  }
}

} // namespace rtc::impl
