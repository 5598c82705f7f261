#include "agent/rendezvous.h"

#include "agent/nkey.h"
#include "agent/secret.h"
#include "agent/text_codec.h"
#include "agent/viewer_commands.h"
#include "common/bounded_json.h"

#include <openssl/rand.h>

#include <algorithm>

namespace dravnok::agent {
namespace {

// An event line of the helper is a few kilobytes; one that cannot travel
// whole is dropped.
constexpr size_t kMaxEventBytes = 1 << 20;

std::string textMember(const nlohmann::json& body, const char* name) {
  auto it = body.find(name);
  return it != body.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool shortText(const nlohmann::json& value) {
  return value.is_string() && value.get_ref<const std::string&>().size() <= Rendezvous::kMaxIceText;
}

// The hello's ICE servers rebuilt from the members the helper uses, or
// nothing when one breaks a limit.
std::optional<nlohmann::json> iceServersOf(const nlohmann::json& hello) {
  nlohmann::json servers = nlohmann::json::array();
  auto given = hello.find("ice");
  if (given == hello.end()) return servers;
  if (!given->is_array() || given->size() > Rendezvous::kMaxIceServers) return std::nullopt;
  for (const auto& entry : *given) {
    auto urls = entry.is_object() ? entry.find("urls") : entry.end();
    if (urls == entry.end()) return std::nullopt;
    bool urlsFit = urls->is_array() ? !urls->empty() && urls->size() <= Rendezvous::kMaxIceServers &&
                                          std::all_of(urls->begin(), urls->end(), shortText)
                                    : shortText(*urls);
    if (!urlsFit) return std::nullopt;
    nlohmann::json server = {{"urls", *urls}};
    for (const char* name : {"username", "credential"}) {
      auto member = entry.find(name);
      if (member == entry.end()) continue;
      if (!shortText(*member)) return std::nullopt;
      server[name] = *member;
    }
    servers.push_back(std::move(server));
  }
  return servers;
}

std::string randomChallenge() {
  uint8_t bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("no random numbers from the system");
  return base64Encode(bytes);
}

} // namespace

Rendezvous::Rendezvous(const LinkSecret& secret, std::string mode, Publish publish, StartSession start, Log log)
    : secret_(secret), mode_(std::move(mode)), publish_(std::move(publish)), start_(std::move(start)),
      log_(std::move(log)) {}

Rendezvous::~Rendezvous() = default;

void Rendezvous::receive(std::span<const uint8_t> message, Clock::time_point now) {
  auto header = readEnvelopeHeader(message, Direction::ViewerToHost);
  if (!header) return;
  std::lock_guard lock(mutex_);
  if (closing_) return;
  if (running_ && running_->sid == header->sid) {
    if (auto body = open(*running_, message, header->seq)) fromRunning(*body);
    return;
  }
  auto peer = std::find_if(pending_.begin(), pending_.end(), [&](const Peer& p) { return p.sid == header->sid; });
  if (peer != pending_.end()) {
    if (auto body = open(*peer, message, header->seq)) fromPending(peer, *body);
    return;
  }
  // Before any key derivation, so that a flood costs little.
  if (!takeHelloToken(now) || header->seq != 0 || seen_.count(header->sid)) return;
  hello(message, header->sid, now);
}

void Rendezvous::hello(std::span<const uint8_t> message, const SessionId& sid, Clock::time_point now) {
  Peer peer;
  peer.sid = sid;
  peer.toHost = sessionKey(secret_, Direction::ViewerToHost, sid);
  auto text = openEnvelope(peer.toHost, message);
  if (!text) return;
  auto body = parseBoundedJson(*text, kMaxEnvelopeBytes, kMaxMessageDepth);
  if (!body || !body->is_object() || textMember(*body, "t") != "hello") return;
  peer.viewer = textMember(*body, "viewer");
  auto iceServers = iceServersOf(*body);
  // The viewer's key names the subject of every reply.
  if (!isPublicNkey(peer.viewer, NkeyKind::User) || !iceServers) return;
  remember(sid);
  peer.toViewer = sessionKey(secret_, Direction::HostToViewer, sid);
  peer.iceServers = std::move(*iceServers);
  peer.since = now;
  std::string who = "supporter " + peer.viewer.substr(0, 8);
  if (running_ && running_->viewer != peer.viewer) {
    log_("refused " + who + ": the host is busy with another supporter");
    send(peer, {{"t", "busy"}});
    return;
  }
  if (running_) {
    log_(who + " came back: ending the session it left");
    running_->session->stop();
    retiring_.push_back(std::move(running_->session));
    running_.reset();
  }
  if (pending_.size() >= kMaxPending) pending_.pop_front();
  peer.challenge = randomChallenge();
  log_(who + " is joining");
  send(peer, {{"t", "welcome"}, {"challenge", peer.challenge}, {"mode", mode_}});
  pending_.push_back(std::move(peer));
}

void Rendezvous::fromPending(std::deque<Peer>::iterator peer, const nlohmann::json& body) {
  std::string type = textMember(body, "t");
  if (type == "stop") {
    pending_.erase(peer);
    return;
  }
  auto offer = offerCommand(body);
  if (type != "offer" || !offer || !secretsEqual(peer->challenge, textMember(body, "challenge"))) return;
  std::string who = "supporter " + peer->viewer.substr(0, 8);
  if (running_) {
    log_("refused " + who + ": the host is busy with another supporter");
    send(*peer, {{"t", "busy"}});
    pending_.erase(peer);
    return;
  }
  std::shared_ptr<SessionChannel> session;
  try {
    session = start_(peer->iceServers);
  } catch (const std::exception& e) {
    log_(std::string("cannot start a session: ") + e.what());
    send(*peer, {{"t", "event"}, {"event", {{"evt", "log"}, {"level", "error"}, {"msg", e.what()}}}});
    send(*peer, {{"t", "event"}, {"event", {{"evt", "exit"}, {"code", 1}}}});
    pending_.erase(peer);
    return;
  }
  log_("session started for " + who);
  running_ = std::move(*peer);
  pending_.erase(peer);
  running_->session = std::move(session);
  running_->session->sendCommand(*offer);
  started_.notify_all();
}

void Rendezvous::fromRunning(const nlohmann::json& body) {
  std::string type = textMember(body, "t");
  std::optional<nlohmann::json> command;
  if (type == "offer" && secretsEqual(running_->challenge, textMember(body, "challenge"))) {
    command = offerCommand(body);
  } else if (type == "ice") {
    command = candidateCommand(body);
  } else if (type == "stop") {
    log_("the supporter ended the session");
    running_->session->stop();
  }
  if (command) running_->session->sendCommand(*command);
}

std::optional<nlohmann::json> Rendezvous::open(Peer& peer, std::span<const uint8_t> message, uint64_t seq) {
  // Replayed and reordered messages fall here.
  if (seq <= peer.lastSeq) return std::nullopt;
  auto text = openEnvelope(peer.toHost, message);
  if (!text) return std::nullopt;
  auto body = parseBoundedJson(*text, kMaxEnvelopeBytes, kMaxMessageDepth);
  if (!body || !body->is_object()) return std::nullopt;
  peer.lastSeq = seq;
  return body;
}

void Rendezvous::send(Peer& peer, const nlohmann::json& body) {
  auto sealed = sealEnvelope(peer.toViewer, Direction::HostToViewer, peer.sid, peer.nextSeq++,
                             body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  if (sealed.size() > kMaxEnvelopeBytes) {
    log_("dropped a message too long for the broker");
    return;
  }
  publish_("dv1." + peer.viewer, std::move(sealed));
}

bool Rendezvous::takeHelloToken(Clock::time_point now) {
  if (tokensAt_) {
    double elapsed = std::chrono::duration<double>(now - *tokensAt_).count();
    tokens_ = std::min(kHelloBurst, tokens_ + std::max(0.0, elapsed) * kHellosPerSecond);
  }
  tokensAt_ = now;
  if (tokens_ < 1) return false;
  tokens_ -= 1;
  return true;
}

void Rendezvous::remember(const SessionId& sid) {
  if (seenOrder_.size() >= kRememberedSids) {
    seen_.erase(seenOrder_.front());
    seenOrder_.pop_front();
  }
  seen_.insert(sid);
  seenOrder_.push_back(sid);
}

void Rendezvous::tick(Clock::time_point now) {
  std::vector<std::shared_ptr<SessionChannel>> ended;
  std::lock_guard lock(mutex_);
  std::erase_if(pending_, [&](const Peer& peer) { return now - peer.since >= kPendingTimeout; });
  if (running_) running_->session->enforceDeadlines(now, kPendingTimeout);
  for (auto& session : retiring_) {
    session->enforceDeadlines(now, kPendingTimeout);
    if (session->ended()) ended.push_back(std::move(session));
  }
  std::erase(retiring_, nullptr);
  // `ended` goes after the lock: a helper's last moments are not ours to wait for.
}

bool Rendezvous::pump(std::chrono::milliseconds wait) {
  std::shared_ptr<SessionChannel> session;
  {
    std::unique_lock lock(mutex_);
    if (!started_.wait_for(lock, wait, [this] { return running_.has_value(); })) return false;
    session = running_->session;
  }
  auto event = session->nextEvent(wait);
  std::lock_guard lock(mutex_);
  if (!running_ || running_->session != session) return false;
  if (event) {
    if (auto parsed = parseBoundedJson(*event, kMaxEventBytes, kMaxJsonDepth))
      send(*running_, {{"t", "event"}, {"event", std::move(*parsed)}});
  }
  // Free at once with the helper's exit event: a supporter who saw it may
  // start again straight away.
  if (session->drained()) {
    log_("session ended; waiting for the next supporter");
    running_.reset();
  }
  return event.has_value();
}

void Rendezvous::stopSessions() {
  std::lock_guard lock(mutex_);
  closing_ = true;
  if (running_) running_->session->stop();
  for (auto& session : retiring_) session->stop();
}

bool Rendezvous::active() const {
  std::lock_guard lock(mutex_);
  return running_ || std::any_of(retiring_.begin(), retiring_.end(), [](const auto& s) { return !s->ended(); });
}

} // namespace dravnok::agent
