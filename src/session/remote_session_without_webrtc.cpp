// The session of a build without a WebRTC implementation: it can only say so.
#include "session/remote_session.h"

namespace dravnok {

RemoteSession::RemoteSession(HostCallbacks callbacks) : callbacks_(std::move(callbacks)) {}

RemoteSession::~RemoteSession() { stop(); }

void RemoteSession::start(const std::string& sessionId, bool viewOnly, const std::vector<IceServerEntry>&,
                          uint32_t parentPid) {
  std::lock_guard lock(sessionMutex_);
  sessionId_ = sessionId;
  viewOnly_ = viewOnly;
  parentPid_ = parentPid;
  callbacks_.onLog("error", "this build has no WebRTC support");
  callbacks_.onState("failed");
}

void RemoteSession::handleOffer(const std::string&) {}

void RemoteSession::addRemoteCandidate(const std::string&, const std::string&) {}

void RemoteSession::stop() {
  std::lock_guard lock(sessionMutex_);
  stopped_ = true;
}

} // namespace dravnok
