#pragma once
// The one session object of remote-helper.
#include "session/host_callbacks.h"
#include "session/session_control.h"

#include <mutex>

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

private:
  HostCallbacks callbacks_;
  bool viewOnly_ = true;
  std::string sessionId_;
  uint32_t parentPid_ = 0;
  std::mutex sessionMutex_;
  bool stopped_ = false;
};

} // namespace dravnok
