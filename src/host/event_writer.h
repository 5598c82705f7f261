#pragma once
// Event lines on standard output: one compact JSON object per line, keys in
// ascending order at every level, raw UTF-8, flushed, under stdoutMutex.
#include <nlohmann/json_fwd.hpp>

#include <mutex>
#include <string>

namespace dravnok::host {

extern std::mutex stdoutMutex;

// The line for `event`, without the line feed. Invalid UTF-8 in strings is
// replaced by U+FFFD rather than failing the event.
std::string serializeEvent(const nlohmann::json& event);

void writeEvent(const nlohmann::json& event);

} // namespace dravnok::host
