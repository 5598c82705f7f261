#pragma once
// The agent's HTTP side: the viewer page, and the signalling between the
// page and the one running remote-helper.
//
//   POST /api/session              {"secret"}          -> {"session","iceServers","mode"}
//   GET  /api/session/ID/events    server-sent events: the helper's event lines
//   POST /api/session/ID/offer     {"sdp"}
//   POST /api/session/ID/ice       {"candidate"}       (null: end of candidates)
//   POST /api/session/ID/stop
#include "agent/agent_options.h"
#include "agent/viewer_session.h"

#include <memory>

namespace httplib {
class Server;
}

namespace dravnok::agent {

class AgentServer {
public:
  AgentServer(AgentOptions options, std::string helperPath, ViewerSession::Log log);
  ~AgentServer();

  // Binds; false when the address is taken. Then serve() blocks until stop().
  bool bind();
  int port() const { return port_; }
  void serve();
  void stop();

private:
  void routes();
  std::shared_ptr<ViewerSession> sessionFor(const std::string& id);

  AgentOptions options_;
  std::string helperPath_;
  ViewerSession::Log log_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  std::mutex mutex_;
  std::shared_ptr<ViewerSession> current_;
};

} // namespace dravnok::agent
