#include "host/event_writer.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace dravnok::host {

std::mutex stdoutMutex;

std::string serializeEvent(const nlohmann::json& event) {
  // nlohmann's objects are ordered maps, so keys come out ascending.
  return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void writeEvent(const nlohmann::json& event) {
  std::lock_guard lock(stdoutMutex);
  std::string line = serializeEvent(event);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

} // namespace dravnok::host
