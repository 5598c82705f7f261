#include "agent/agent_server.h"

#include "agent/agent_platform.h"
#include "agent/secret.h"
#include "agent/tls_identity.h"
#include "agent/viewer_commands.h"
#include "agent/viewer_files.h"
#include "common/bounded_json.h"

#include <httplib.h>

namespace dravnok::agent {
namespace {

// Our bodies are two levels deep.
constexpr int kMaxBodyDepth = 8;
// A request's bytes come together; a client that pauses longer between two
// of them is dropped, so that slow clients cannot hold the workers.
constexpr std::chrono::seconds kReadTimeout{1};
constexpr std::chrono::seconds kWriteTimeout{5};
constexpr time_t kKeepAliveSeconds = 2;
constexpr size_t kKeepAliveRequests = 20;

void replyJson(httplib::Response& res, int status, const nlohmann::json& body) {
  res.status = status;
  res.set_content(body.dump(), "application/json");
}

void replyError(httplib::Response& res, int status, const std::string& message) {
  replyJson(res, status, {{"error", message}});
}

std::optional<nlohmann::json> jsonBody(const httplib::Request& req, httplib::Response& res) {
  std::string refusal;
  auto body = parseBoundedJson(req.body, kMaxBodyBytes, kMaxBodyDepth, &refusal);
  if (!body || !body->is_object()) {
    replyError(res, 400, refusal.empty() ? "the request body must be a JSON object" : "the request body is " + refusal);
    return std::nullopt;
  }
  return body;
}

std::optional<std::string_view> header(const httplib::Request& req, const char* name) {
  auto it = req.headers.find(name);
  if (it == req.headers.end()) return std::nullopt;
  return std::string_view(it->second);
}

std::unique_ptr<httplib::Server> makeServer(const AgentOptions& options, std::string& fingerprint) {
  if (!usesTls(options)) return std::make_unique<httplib::Server>();
  TlsIdentity identity =
      options.tlsCert.empty() ? makeSelfSignedIdentity(options.host) : loadTlsIdentity(options.tlsCert, options.tlsKey);
  fingerprint = identity.fingerprint;
  // The server takes its own references to the certificate and the key.
  auto server = std::make_unique<httplib::SSLServer>(identity.certificate.get(), identity.key.get());
  if (!server->is_valid()) throw std::runtime_error("cannot set up TLS with that certificate");
  return server;
}

} // namespace

AgentServer::AgentServer(AgentOptions options, std::string helperPath, ViewerSession::Log log)
    : options_(std::move(options)), helperPath_(std::move(helperPath)),
      log_(std::move(log)), rules_{options_.host, options_.port, usesTls(options_), options_.allowHosts},
      server_(makeServer(options_, tlsFingerprint_)),
      watchdog_(std::chrono::milliseconds(250), [this] { enforceDeadlines(); }) {
  routes();
}

AgentServer::~AgentServer() {
  stop();
  std::shared_ptr<ViewerSession> last;
  {
    std::lock_guard lock(mutex_);
    last = std::move(current_);
  }
  if (last) last->stop();
}

bool AgentServer::bind() {
  if (!server_->bind_to_port(options_.host.c_str(), options_.port)) return false;
  port_ = options_.port;
  return true;
}

void AgentServer::serve() { server_->listen_after_bind(); }

void AgentServer::stop() { server_->stop(); }

std::shared_ptr<ViewerSession> AgentServer::sessionFor(const std::string& id) {
  std::lock_guard lock(mutex_);
  return current_ && secretsEqual(current_->id(), id) ? current_ : nullptr;
}

void AgentServer::enforceDeadlines() {
  std::shared_ptr<ViewerSession> session;
  {
    std::lock_guard lock(mutex_);
    session = current_;
  }
  if (session) session->enforceDeadlines(ViewerSession::Clock::now(), options_.openTimeout);
}

std::optional<Refusal> AgentServer::guard(const httplib::Request& req) const {
  RequestHead head;
  head.method = req.method;
  head.host = header(req, "Host");
  head.origin = header(req, "Origin");
  head.contentType = header(req, "Content-Type");
  head.contentLength = header(req, "Content-Length");
  head.chunked = req.has_header("Transfer-Encoding");
  head.repeatedHeader = req.get_header_value_count("Host") > 1 || req.get_header_value_count("Origin") > 1 ||
                        req.get_header_value_count("Content-Length") > 1 ||
                        req.get_header_value_count("Content-Type") > 1;
  return checkRequest(rules_, head);
}

void AgentServer::createSession(const httplib::Request& req, httplib::Response& res) {
  auto wait = throttle_.waitFor(req.remote_addr, SecretThrottle::Clock::now());
  if (wait.count() > 0) {
    res.set_header("Retry-After", std::to_string(wait.count()));
    return replyError(res, 429, "too many wrong secrets; try again later");
  }
  auto body = jsonBody(req, res);
  if (!body) return;
  auto secret = body->find("secret");
  if (secret == body->end() || !secret->is_string() || !secretsEqual(options_.secret, secret->get<std::string>())) {
    log_("refused a viewer: wrong secret from " + req.remote_addr);
    throttle_.failed(req.remote_addr, SecretThrottle::Clock::now());
    return replyError(res, 403, "wrong secret");
  }
  throttle_.succeeded(req.remote_addr);
  std::lock_guard lock(mutex_);
  if (current_ && !current_->ended()) {
    log_("refused a second viewer from " + req.remote_addr);
    return replyError(res, 409, "another viewer is already connected; only one session at a time");
  }
  auto session = std::make_shared<ViewerSession>(randomHex(8), log_);
  try {
    session->start(options_, helperPath_);
  } catch (const std::exception& e) {
    log_(std::string("cannot start a session: ") + e.what());
    return replyError(res, 500, e.what());
  }
  current_ = session;
  replyJson(res, 200, {{"session", session->id()}, {"iceServers", options_.iceServers}, {"mode", options_.mode}});
}

void AgentServer::routes() {
  // The page loads only its own files; nothing may frame it.
  server_->set_default_headers(
      {{"Cache-Control", "no-store"},
       {"X-Content-Type-Options", "nosniff"},
       {"Content-Security-Policy", "default-src 'self'; img-src 'self' data: blob:; "
                                   "object-src 'none'; base-uri 'none'; frame-ancestors 'none'"},
       {"Referrer-Policy", "no-referrer"}});
  server_->set_payload_max_length(kMaxBodyBytes);
  server_->set_read_timeout(kReadTimeout);
  server_->set_write_timeout(kWriteTimeout);
  server_->set_keep_alive_timeout(kKeepAliveSeconds);
  server_->set_keep_alive_max_count(kKeepAliveRequests);
  // This reaches the listening socket only; accepted ones are kept from the
  // helper by HelperProcess, which closes every other descriptor at spawn.
  server_->set_socket_options([](socket_t sock) {
    httplib::default_socket_options(sock);
    keepFromChildren(static_cast<std::intptr_t>(sock));
  });
  // Runs once the headers are in and before any of the body is read.
  server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    auto refusal = guard(req);
    if (!refusal) return httplib::Server::HandlerResponse::Unhandled;
    replyError(res, refusal->status, refusal->message);
    // An unread body must not be taken for the next request.
    res.set_header("Connection", "close");
    return httplib::Server::HandlerResponse::Handled;
  });

  server_->Post("/api/session",
                [this](const httplib::Request& req, httplib::Response& res) { createSession(req, res); });

  server_->Get(R"(/api/session/([0-9a-f]+)/events)", [this](const httplib::Request& req, httplib::Response& res) {
    auto session = sessionFor(req.matches[1]);
    if (!session) return replyError(res, 404, "no such session");
    // The session has one queue of events: a second reader would take half.
    if (!session->openEvents()) return replyError(res, 409, "the session's events are already being read");
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [session](size_t, httplib::DataSink& sink) {
          // Frequent keep-alives let a closed page show up as a failed write.
          auto event = session->nextEvent(std::chrono::seconds(2));
          std::string chunk = event ? "data: " + *event + "\n\n" : std::string(": keep-alive\n\n");
          if (!sink.write(chunk.data(), chunk.size())) return false;
          if (session->drained()) {
            sink.done();
          }
          return true;
        },
        [this, session](bool) {
          // The page went away: the viewer left, so the session ends.
          if (!session->ended()) {
            log_("session " + session->id() + ": the viewer left");
            session->stop();
          }
        });
  });

  auto command = [this](const char* path, auto build) {
    server_->Post(path, [this, build](const httplib::Request& req, httplib::Response& res) {
      auto session = sessionFor(req.matches[1]);
      if (!session) return replyError(res, 404, "no such session");
      auto body = jsonBody(req, res);
      if (!body) return;
      auto command = build(*body);
      if (!command) return replyError(res, 400, "the request body has a member of the wrong type");
      if (!session->sendCommand(*command)) return replyError(res, 410, "the session has ended");
      replyJson(res, 200, {{"ok", true}});
    });
  };
  command(R"(/api/session/([0-9a-f]+)/offer)", offerCommand);
  command(R"(/api/session/([0-9a-f]+)/ice)", candidateCommand);

  server_->Post(R"(/api/session/([0-9a-f]+)/stop)", [this](const httplib::Request& req, httplib::Response& res) {
    auto session = sessionFor(req.matches[1]);
    if (!session) return replyError(res, 404, "no such session");
    log_("session " + session->id() + ": the viewer ended it");
    session->stop();
    replyJson(res, 200, {{"ok", true}});
  });

  if (!options_.viewerDir.empty()) {
    server_->set_mount_point("/", options_.viewerDir);
    return;
  }
  server_->Get(R"(/[A-Za-z0-9._/-]*)", [](const httplib::Request& req, httplib::Response& res) {
    const EmbeddedFile* file = findViewerFile(req.path);
    if (!file) return replyError(res, 404, "no such file");
    res.set_content(file->bytes.data(), file->bytes.size(), std::string(contentTypeFor(file->path)));
  });
}

} // namespace dravnok::agent
