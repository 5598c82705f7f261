#pragma once
// The one session object of remote-helper: the peer connection to the
// viewer, the video track and the data channels, and the workers that feed
// them.
#include "session/host_callbacks.h"
#include "session/session_control.h"

#include <functional>
#include <memory>
#include <string_view>

namespace dravnok {

// Called with the name of a step of the session's start ("capture") or of
// the offer's track creation ("video track") before it runs; what it throws
// stands for that step failing. A seam for tests.
using SessionStepHook = std::function<void(std::string_view step)>;

class RemoteSession final : public SessionControl {
public:
  explicit RemoteSession(HostCallbacks callbacks, SessionStepHook beforeStep = {});
  ~RemoteSession() override;
  RemoteSession(const RemoteSession&) = delete;
  RemoteSession& operator=(const RemoteSession&) = delete;

  void start(const std::string& sessionId, bool viewOnly, const std::vector<IceServerEntry>& servers,
             uint32_t parentPid) override;
  void handleOffer(const std::string& sdp) override;
  void addRemoteCandidate(const std::string& candidate, const std::string& mid) override;
  void stop() override;

  struct Impl;

private:
  std::unique_ptr<Impl> impl_;
};

} // namespace dravnok
