#include "agent/viewer_session.h"

#include "common/bounded_json.h"

namespace dravnok::agent {
namespace {

// A page that stopped reading must not make the agent grow without bound.
constexpr size_t kMaxQueuedEvents = 10000;
// An answer is a few kilobytes; a log line less.
constexpr size_t kMaxHelperLineBytes = 1 << 20;

} // namespace

ViewerSession::ViewerSession(std::string id, Log log) : id_(std::move(id)), log_(std::move(log)) {}

ViewerSession::~ViewerSession() { helper_.reset(); }

void ViewerSession::start(const AgentOptions& options, const std::string& helperPath) {
  helper_ = std::make_unique<HelperProcess>(
      helperPath, std::vector<std::string>{}, [this](const std::string& line) { onHelperLine(line); },
      [this](int code) { onHelperExit(code); });
  log_("session " + id_ + ": remote-helper started (pid " + std::to_string(helper_->pid()) + ")");
  sendCommand({{"cmd", "start"},
               {"sessionId", id_},
               {"mode", options.mode},
               {"viewerName", options.viewerName},
               {"iceServers", options.iceServers}});
}

bool ViewerSession::sendCommand(const nlohmann::json& command) {
  return helper_ && helper_->writeLine(command.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void ViewerSession::stop() {
  if (!helper_) return;
  {
    std::lock_guard lock(mutex_);
    if (!stopped_) stopped_ = Clock::now();
  }
  helper_->writeLine(R"({"cmd":"stop"})");
  helper_->closeInput();
}

bool ViewerSession::openEvents() {
  std::lock_guard lock(mutex_);
  return !std::exchange(opened_, true);
}

void ViewerSession::enforceDeadlines(Clock::time_point now, std::chrono::seconds openTimeout) {
  bool neverOpened = false;
  bool overdue = false;
  {
    std::lock_guard lock(mutex_);
    if (ended_) return;
    neverOpened = !opened_ && !stopped_ && now - created_ >= openTimeout;
    overdue = stopped_ && now - *stopped_ >= kStopGrace && !std::exchange(killed_, true);
  }
  if (neverOpened) {
    log_("session " + id_ + ": the viewer never opened it");
    stop();
  } else if (overdue && helper_) {
    log_("session " + id_ + ": remote-helper did not end after stop; killing it");
    helper_->kill();
  }
}

void ViewerSession::onHelperLine(const std::string& line) {
  // The helper's lines carry text that came from the viewer.
  auto parsed = parseBoundedJson(line, kMaxHelperLineBytes, kMaxJsonDepth);
  if (!parsed || !parsed->is_object()) {
    log_("session " + id_ + ": helper wrote a line that is not an event: " + line.substr(0, 200));
    return;
  }
  const nlohmann::json& event = *parsed;
  if (event.value("evt", "") == "log") {
    log_("helper " + event.value("level", "?") + ": " + event.value("msg", ""));
  } else if (event.value("evt", "") == "state") {
    log_("session " + id_ + ": " + event.value("value", ""));
  }
  push(line);
}

void ViewerSession::onHelperExit(int code) {
  log_("session " + id_ + ": remote-helper exited with code " + std::to_string(code));
  std::lock_guard lock(mutex_);
  events_.push_back(nlohmann::json{{"evt", "exit"}, {"code", code}}.dump());
  ended_ = true;
  eventsCv_.notify_all();
}

void ViewerSession::push(std::string event) {
  std::lock_guard lock(mutex_);
  if (events_.size() >= kMaxQueuedEvents) events_.pop_front();
  events_.push_back(std::move(event));
  eventsCv_.notify_all();
}

std::optional<std::string> ViewerSession::nextEvent(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  eventsCv_.wait_for(lock, timeout, [this] { return !events_.empty() || ended_; });
  if (events_.empty()) return std::nullopt;
  std::string event = std::move(events_.front());
  events_.pop_front();
  return event;
}

bool ViewerSession::drained() const {
  std::lock_guard lock(mutex_);
  return ended_ && events_.empty();
}

bool ViewerSession::ended() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

} // namespace dravnok::agent
