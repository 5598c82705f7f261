#include "host/control_loop.h"

#include "common/bounded_json.h"
#include "host/diagnostic_log.h"

#include <nlohmann/json.hpp>

namespace dravnok::host {
namespace {

using nlohmann::json;

// A command whose fields have the wrong JSON types cannot be trusted.
struct MalformedCommand {};

// A string member; missing or null gives the empty string.
std::string stringField(const json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return {};
  if (!it->is_string()) throw MalformedCommand{};
  return it->get<std::string>();
}

void handleStart(const json& command, SessionControl& session, HostState& state) {
  std::string sessionId = stringField(command, "sessionId");
  std::string mode = stringField(command, "mode");
  std::string viewerName = stringField(command, "viewerName");
  bool viewOnly = mode != "control";
  std::vector<IceServerEntry> servers;
  if (auto it = command.find("iceServers"); it != command.end()) servers = parseIceServers(*it);
  state.setViewerName(viewerName);
  logToFile("start", "sessionId=" + sessionId + " mode=" + (viewOnly ? "view-only" : "control") +
                         " iceServers=" + std::to_string(servers.size()));
  session.start(sessionId, viewOnly, servers, state.parentPid);
}

void handleOffer(const json& command, SessionControl& session) {
  std::string sdp = stringField(command, "sdp");
  logToFile("sdp", "OFFER (from the browser):\n" + sdp);
  session.handleOffer(sdp);
}

void handleIce(const json& command, SessionControl& session) {
  auto it = command.find("candidate");
  if (it == command.end() || it->is_null()) return;
  if (!it->is_object()) throw MalformedCommand{};
  std::string candidate = stringField(*it, "candidate");
  std::string mid = stringField(*it, "sdpMid");
  session.addRemoteCandidate(candidate, mid);
}

} // namespace

void HostState::setViewerName(std::string name) {
  std::lock_guard lock(viewerNameMutex);
  viewerName = std::move(name);
}

std::string HostState::currentViewerName() {
  std::lock_guard lock(viewerNameMutex);
  return viewerName;
}

void handleCommandLine(const std::string& line, SessionControl& session, HostState& state) {
  std::string refusal;
  std::optional<json> parsed = parseBoundedJson(line, kMaxCommandLineBytes, kMaxJsonDepth, &refusal);
  if (!refusal.empty()) {
    logEvent("warn", "ignoring stdin line (" + refusal + ")");
    return;
  }
  if (!parsed || !parsed->is_object()) {
    logEvent("warn", "ignoring non-JSON stdin line");
    return;
  }
  const json& command = *parsed;
  auto cmdIt = command.find("cmd");
  if (cmdIt != command.end() && !cmdIt->is_string() && !cmdIt->is_null()) {
    logEvent("warn", "ignoring malformed command");
    return;
  }
  std::string cmd = stringField(command, "cmd");
  try {
    if (cmd == "start") {
      handleStart(command, session, state);
    } else if (cmd == "offer") {
      handleOffer(command, session);
    } else if (cmd == "ice") {
      handleIce(command, session);
    } else if (cmd == "stop") {
      state.quitRequested = true;
    } else {
      logEvent("warn", "unknown cmd: " + cmd);
    }
  } catch (const MalformedCommand&) {
    logEvent("warn", "ignoring malformed " + cmd + " command");
  }
}

void runControlLoop(std::istream& in, SessionControl& session, HostState& state) {
  std::string line;
  while (!state.quitRequested && std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back(); // CRLF input
    if (line.empty()) continue;
    handleCommandLine(line, session, state);
  }
}

} // namespace dravnok::host
