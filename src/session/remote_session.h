#pragma once
// The one session object of remote-helper: the peer connection to the
// viewer, the video track and the data channels, and the workers that feed
// them.
#include "session/host_callbacks.h"
#include "session/session_control.h"

#include <memory>

namespace dravnok {

class RemoteSession final : public SessionControl {
public:
  explicit RemoteSession(HostCallbacks callbacks);
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
