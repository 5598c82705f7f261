#include "agent/server_mode.h"

#include "agent/broker_link.h"
#include "agent/link_keys.h"
#include "agent/periodic_thread.h"
#include "agent/rendezvous.h"
#include "agent/secret.h"
#include "agent/text_codec.h"
#include "agent/tls_trust.h"
#include "agent/user_jwt.h"
#include "agent/viewer_session.h"

#include <httplib.h>

#include <cstdio>
#include <ctime>
#include <random>
#include <thread>

namespace dravnok::agent {
namespace {

using namespace std::chrono_literals;

// Long enough for the helper's grace period after "stop" to run out.
constexpr auto kShutdownWait = ViewerSession::kStopGrace + 1s;

} // namespace

ServerMode::ServerMode(AgentOptions options, std::string helperPath, Log log)
    : options_(std::move(options)), helperPath_(std::move(helperPath)), log_(std::move(log)) {}

void ServerMode::stop() {
  {
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
  }
  stopCv_.notify_all();
}

bool ServerMode::stopWithin(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  return stopCv_.wait_for(lock, wait, [this] { return stopRequested_; });
}

std::optional<ServerConfig> ServerMode::describe(const Endpoint& server) {
  std::mt19937 random{std::random_device{}()};
  std::uniform_real_distribution<double> jitter(0, 1);
  for (int failures = 0;; ++failures) {
    httplib::SSLClient client(server.host, server.port);
    client.set_ca_cert_store(makeTrustStore(options_.serverCa));
    client.set_connection_timeout(5s);
    client.set_read_timeout(10s);
    std::string body;
    bool tooLong = false;
    auto result = client.Get("/dravnok-server.json", [&](const char* data, size_t length) {
      tooLong = body.size() + length > kMaxServerConfigBytes;
      if (!tooLong) body.append(data, length);
      return !tooLong;
    });
    std::string problem;
    if (result && result->status == 200) {
      auto config = parseServerConfig(body, server, problem);
      if (config) return config;
      log_("the support server's description is unusable: " + problem);
      return std::nullopt;
    }
    if (tooLong) {
      log_("the support server's description is too long");
      return std::nullopt;
    }
    if (!result && result.error() == httplib::Error::SSLServerVerification) {
      log_("the support server's certificate is not trusted (--server-ca adds an authority)");
      return std::nullopt;
    }
    if (result && result->status < 500) {
      log_("the support server answers " + std::to_string(result->status) + " for /dravnok-server.json");
      return std::nullopt;
    }
    problem = result ? "status " + std::to_string(result->status) : httplib::to_string(result.error());
    auto delay = reconnectDelay(failures, jitter(random));
    log_("cannot reach the support server " + server.text + " (" + problem + "); trying again in " +
         secondsText(delay));
    if (stopWithin(delay)) return std::nullopt;
  }
}

int ServerMode::run() {
  auto server = parseServerUrl(options_.serverUrl);
  std::shared_ptr<SSL_CTX> tls;
  try {
    tls = makeClientTlsContext(options_.serverCa);
  } catch (const std::exception& e) {
    log_(e.what());
    return 1;
  }
  auto config = describe(*server);
  if (!config) return stopWithin(0ms) ? 0 : 1;

  LinkSecret secret = makeLinkSecret();
  Nkey user(NkeyKind::User, hostSeed(secret));
  BrokerLink::Identity identity{
      mintUserJwt(config->hostSigner, config->account, user, "host", static_cast<int64_t>(std::time(nullptr))),
      [&user](std::string_view nonce) { return user.sign(bytesOf(nonce)); }};
  std::printf("Give the supporter this link: %s\n", supportLink(config->page, secret).c_str());
  std::fflush(stdout);

  std::unique_ptr<BrokerLink> link;
  auto startSession = [this](const nlohmann::json& iceServers) {
    AgentOptions sessionOptions = options_;
    for (const auto& server : iceServers) sessionOptions.iceServers.push_back(server);
    auto session = std::make_shared<ViewerSession>(randomHex(8), log_);
    session->start(sessionOptions, helperPath_);
    // Its one reader is the pump below, from the start.
    session->openEvents();
    return session;
  };
  Rendezvous rendezvous(
      secret, options_.mode,
      [&link](const std::string& subject, std::vector<uint8_t> message) { link->publish(subject, message); },
      startSession, log_);
  log_("connecting out to " + server->text + ", helper " + helperPath_ + ", mode " + options_.mode);
  link = std::make_unique<BrokerLink>(
      config->brokers, tls, std::move(identity), "dv1." + user.publicText(),
      [&rendezvous](std::span<const uint8_t> message) { rendezvous.receive(message, Rendezvous::Clock::now()); }, log_);
  {
    std::jthread pump([&rendezvous](std::stop_token stop) {
      while (!stop.stop_requested()) rendezvous.pump(200ms);
    });
    PeriodicThread watchdog(250ms, [&rendezvous] { rendezvous.tick(Rendezvous::Clock::now()); });
    {
      std::unique_lock lock(mutex_);
      stopCv_.wait(lock, [this] { return stopRequested_; });
    }
    // As in local mode: the helper gets "stop"; its last events still go out.
    rendezvous.stopSessions();
    auto deadline = std::chrono::steady_clock::now() + kShutdownWait;
    while (rendezvous.active() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
  }
  link.reset();
  log_("stopped");
  return 0;
}

} // namespace dravnok::agent
