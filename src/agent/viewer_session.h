#pragma once
// One viewer's session: the remote-helper child and the queue of its event
// lines on their way to the viewer's page.
#include "agent/agent_options.h"
#include "agent/helper_process.h"
#include "agent/session_channel.h"

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <utility>

namespace dravnok::agent {

class ViewerSession : public SessionChannel {
public:
  using Log = std::function<void(const std::string&)>;

  // How long a helper may take to end after "stop" before it is killed.
  static constexpr std::chrono::seconds kStopGrace{5};

  ViewerSession(std::string id, Log log);
  ~ViewerSession() override;

  // Starts the helper and sends it the start command; throws when the
  // helper cannot be started.
  void start(const AgentOptions& options, const std::string& helperPath);

  const std::string& id() const { return id_; }
  // Sends a command line to the helper; false when it is gone.
  bool sendCommand(const nlohmann::json& command) override;
  // Ends the session the agent's way: "stop", then end of input.
  void stop() override;

  // Claims the session's one event stream; false when it was claimed before.
  bool openEvents();
  // Run now and then: ends a session whose page did not open its event
  // stream within `openTimeout`, and kills a helper that outlived "stop" by
  // the grace period.
  void enforceDeadlines(Clock::time_point now, std::chrono::seconds openTimeout) override;

  // The next event line, waiting up to `timeout`; empty on time-out or
  // once the session has ended and every event was taken.
  std::optional<std::string> nextEvent(std::chrono::milliseconds timeout) override;
  // The helper exited and every event was taken.
  bool drained() const override;
  bool ended() const override;

private:
  void onHelperLine(const std::string& line);
  void onHelperExit(int code);
  void push(std::string event);

  std::string id_;
  Log log_;
  mutable std::mutex mutex_;
  std::condition_variable eventsCv_;
  std::deque<std::string> events_;
  bool ended_ = false;
  bool opened_ = false;
  Clock::time_point created_ = Clock::now();
  std::optional<Clock::time_point> stopped_;
  bool killed_ = false;
  std::unique_ptr<HelperProcess> helper_; // last: its reader calls into the members above
};

} // namespace dravnok::agent
