#pragma once
// The session's only way to standard output: four callbacks that the host
// supplies when it builds the session.
#include <functional>
#include <string>

namespace dravnok {

struct HostCallbacks {
  std::function<void(const std::string& sdp)> onAnswer;
  std::function<void(const std::string& candidate, const std::string& mid, int mlineIndex, bool done)> onCandidate;
  std::function<void(const std::string& value)> onState;
  std::function<void(const std::string& level, const std::string& message)> onLog;
};

} // namespace dravnok
