#include "agent/agent_server.h"

#include "agent/secret.h"

#include <httplib.h>

namespace dravnok::agent {
namespace {

void replyJson(httplib::Response& res, int status, const nlohmann::json& body) {
  res.status = status;
  res.set_content(body.dump(), "application/json");
}

void replyError(httplib::Response& res, int status, const std::string& message) {
  replyJson(res, status, {{"error", message}});
}

std::optional<nlohmann::json> jsonBody(const httplib::Request& req, httplib::Response& res) {
  auto body = nlohmann::json::parse(req.body, nullptr, false);
  if (!body.is_object()) {
    replyError(res, 400, "the request body must be a JSON object");
    return std::nullopt;
  }
  return body;
}

} // namespace

AgentServer::AgentServer(AgentOptions options, std::string helperPath, ViewerSession::Log log)
    : options_(std::move(options)), helperPath_(std::move(helperPath)), log_(std::move(log)),
      server_(std::make_unique<httplib::Server>()) {
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
  return current_ && current_->id() == id ? current_ : nullptr;
}

void AgentServer::routes() {
  std::string viewerDir = options_.viewerDir.empty() ? DRAVNOK_VIEWER_DIR : options_.viewerDir;
  server_->set_mount_point("/", viewerDir);
  server_->set_default_headers({{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}});

  server_->Post("/api/session", [this](const httplib::Request& req, httplib::Response& res) {
    auto body = jsonBody(req, res);
    if (!body) return;
    auto secret = body->find("secret");
    if (secret == body->end() || !secret->is_string() || !secretsEqual(options_.secret, secret->get<std::string>())) {
      log_("refused a viewer: wrong secret from " + req.remote_addr);
      return replyError(res, 403, "wrong secret");
    }
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
  });

  server_->Get(R"(/api/session/([0-9a-f]+)/events)", [this](const httplib::Request& req, httplib::Response& res) {
    auto session = sessionFor(req.matches[1]);
    if (!session) return replyError(res, 404, "no such session");
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
      if (!session->sendCommand(build(*body))) return replyError(res, 410, "the session has ended");
      replyJson(res, 200, {{"ok", true}});
    });
  };
  command(R"(/api/session/([0-9a-f]+)/offer)", [](const nlohmann::json& body) {
    return nlohmann::json{{"cmd", "offer"}, {"sdp", body.value("sdp", "")}};
  });
  command(R"(/api/session/([0-9a-f]+)/ice)", [](const nlohmann::json& body) {
    return nlohmann::json{{"cmd", "ice"}, {"candidate", body.contains("candidate") ? body["candidate"] : nullptr}};
  });

  server_->Post(R"(/api/session/([0-9a-f]+)/stop)", [this](const httplib::Request& req, httplib::Response& res) {
    auto session = sessionFor(req.matches[1]);
    if (!session) return replyError(res, 404, "no such session");
    log_("session " + session->id() + ": the viewer ended it");
    session->stop();
    replyJson(res, 200, {{"ok", true}});
  });
}

} // namespace dravnok::agent
