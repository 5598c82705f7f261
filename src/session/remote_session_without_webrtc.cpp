// The session of a build without a WebRTC implementation: it can only say so.
#if !DRAVNOK_HAVE_WEBRTC
#include "session/remote_session.h"

#include <mutex>

namespace dravnok {

struct RemoteSession::Impl {
  HostCallbacks callbacks;
  std::mutex sessionMutex;
};

RemoteSession::RemoteSession(HostCallbacks callbacks, SessionStepHook) : impl_(std::make_unique<Impl>()) {
  impl_->callbacks = std::move(callbacks);
}

RemoteSession::~RemoteSession() = default;

void RemoteSession::start(const std::string&, bool, const std::vector<IceServerEntry>&, uint32_t) {
  std::lock_guard lock(impl_->sessionMutex);
  impl_->callbacks.onLog("error", "this build has no WebRTC support");
  impl_->callbacks.onState("failed");
}

void RemoteSession::handleOffer(const std::string&) {}
void RemoteSession::addRemoteCandidate(const std::string&, const std::string&) {}
void RemoteSession::stop() {}

} // namespace dravnok
#endif
