#pragma once
// What the command loop asks of the session.
#include "session/ice_servers.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dravnok {

class SessionControl {
public:
  virtual ~SessionControl() = default;
  virtual void start(const std::string& sessionId, bool viewOnly, const std::vector<IceServerEntry>& servers,
                     uint32_t parentPid) = 0;
  virtual void handleOffer(const std::string& sdp) = 0;
  virtual void addRemoteCandidate(const std::string& candidate, const std::string& mid) = 0;
  virtual void stop() = 0;
};

} // namespace dravnok
