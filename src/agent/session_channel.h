#pragma once
// What the agent's two front ends need of a running session: ViewerSession
// with its remote-helper, or a stand-in in tests.
#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>
#include <string>

namespace dravnok::agent {

class SessionChannel {
public:
  using Clock = std::chrono::steady_clock;
  virtual ~SessionChannel() = default;
  // Sends a command line to the helper; false when it is gone.
  virtual bool sendCommand(const nlohmann::json& command) = 0;
  // Ends the session: "stop", then end of input.
  virtual void stop() = 0;
  // The next event line, waiting up to `timeout`.
  virtual std::optional<std::string> nextEvent(std::chrono::milliseconds timeout) = 0;
  // The helper exited and every event was taken.
  virtual bool drained() const = 0;
  virtual bool ended() const = 0;
  virtual void enforceDeadlines(Clock::time_point now, std::chrono::seconds openTimeout) = 0;
};

} // namespace dravnok::agent
