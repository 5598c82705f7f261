#pragma once
// The agent's HTTP side: the viewer page, and the signalling between the
// page and the one running remote-helper.
//
//   POST /api/session              {"secret"}          -> {"session","iceServers","mode"}
//   GET  /api/session/ID/events    server-sent events: the helper's event lines (one stream)
//   POST /api/session/ID/offer     {"sdp"}
//   POST /api/session/ID/ice       {"candidate"}       (null: end of candidates)
//   POST /api/session/ID/stop
//
// It faces the network: every request is checked (request_guard.h) before
// its body is read, bodies are small and shallow, and slow clients are cut
// off so that they cannot hold the workers.
#include "agent/agent_options.h"
#include "agent/periodic_thread.h"
#include "agent/request_guard.h"
#include "agent/secret_throttle.h"
#include "agent/viewer_session.h"

#include <memory>
#include <optional>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace dravnok::agent {

class AgentServer {
public:
  // Throws std::runtime_error when the TLS certificate cannot be had.
  AgentServer(AgentOptions options, std::string helperPath, ViewerSession::Log log);
  ~AgentServer();

  // Binds; false when the address is taken. Then serve() blocks until stop().
  bool bind();
  int port() const { return port_; }
  // SHA-256 of the certificate; empty for plain HTTP.
  const std::string& tlsFingerprint() const { return tlsFingerprint_; }
  void serve();
  void stop();

private:
  void routes();
  std::optional<Refusal> guard(const httplib::Request& req) const;
  void createSession(const httplib::Request& req, httplib::Response& res);
  std::shared_ptr<ViewerSession> sessionFor(const std::string& id);
  void enforceDeadlines();

  AgentOptions options_;
  std::string helperPath_;
  ViewerSession::Log log_;
  RequestRules rules_;
  std::string tlsFingerprint_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  SecretThrottle throttle_;
  std::mutex mutex_;
  std::shared_ptr<ViewerSession> current_;
  PeriodicThread watchdog_; // last: it uses the members above
};

} // namespace dravnok::agent
