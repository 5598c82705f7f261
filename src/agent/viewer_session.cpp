#include "agent/viewer_session.h"

namespace dravnok::agent {
namespace {

// A page that stopped reading must not make the agent grow without bound.
constexpr size_t kMaxQueuedEvents = 10000;

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
  helper_->writeLine(R"({"cmd":"stop"})");
  helper_->closeInput();
}

void ViewerSession::onHelperLine(const std::string& line) {
  auto event = nlohmann::json::parse(line, nullptr, false);
  if (!event.is_object()) {
    log_("session " + id_ + ": helper wrote a line that is not an event: " + line.substr(0, 200));
    return;
  }
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
