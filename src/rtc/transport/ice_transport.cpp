#include "transport/ice_transport.hpp"

#include "log.hpp"
#include "transport/guarded.hpp"

#include <gio/gio.h>
// The platform's socket and resolver headers (and Winsock's start-up).
#include <gio/gnetworking.h>
#include <nice/agent.h>

#include <algorithm>
#include <stdexcept>

namespace rtc::impl {
namespace {

// Received datagrams queued for the loop's next pass, at most.
constexpr size_t kMaxQueuedBytes = 4 * 1024 * 1024;
// Datagrams handled in one pass of the loop before its timers get a turn.
constexpr size_t kDatagramsPerPass = 128;
// Datagrams held back before they leave together (one system call for all).
constexpr size_t kHeldDatagrams = 64;
// Times the check list may start over because a candidate came after checks
// from its address (see addRemoteCandidate).
constexpr int kMaxRepairs = 3;
// A connected path from which nothing at all has come for this long has lost
// the peer's consent: we stop using it.
constexpr auto kConsentTimeout = std::chrono::seconds(30);

// libnice wants numeric addresses for its servers.
std::string resolve(const std::string& host, bool tcp) {
  g_networking_init();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = tcp ? SOCK_STREAM : SOCK_DGRAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) {
    hints.ai_family = AF_UNSPEC;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) return "";
  }
  char text[NI_MAXHOST] = {};
  int rc = getnameinfo(result->ai_addr, result->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
  freeaddrinfo(result);
  return rc == 0 ? text : "";
}

void onGatheringDone(NiceAgent*, guint, gpointer self) {
  guarded("ICE gathering", [&] { static_cast<IceTransport*>(self)->handleGatheringDone(); });
}

void onStateChanged(NiceAgent*, guint, guint, guint state, gpointer self) {
  guarded("an ICE state change", [&] { static_cast<IceTransport*>(self)->handleStateChange(state); });
}

void onNewCandidate(NiceAgent*, NiceCandidate* candidate, gpointer self) {
  guarded("an ICE candidate", [&] { static_cast<IceTransport*>(self)->handleNewCandidate(candidate); });
}

void onReceive(NiceAgent*, guint, guint, guint len, gchar* buf, gpointer self) {
  guarded("an ICE receive",
          [&] { static_cast<IceTransport*>(self)->onPacketReceived(reinterpret_cast<const uint8_t*>(buf), len); });
}

gboolean onDrain(gpointer self) {
  // drainReceived guards each datagram's handling itself.
  return static_cast<IceTransport*>(self)->drainReceived() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

gboolean onTimer(gpointer self) {
  guarded("an ICE timer", [&] { static_cast<IceTransport*>(self)->handleTick(); });
  return G_SOURCE_CONTINUE;
}

void logFromGlib(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
  LogLevel ours = (level & G_LOG_LEVEL_ERROR) || (level & G_LOG_LEVEL_CRITICAL) ? LogLevel::Error
                  : (level & G_LOG_LEVEL_WARNING)                               ? LogLevel::Warning
                                                                                : LogLevel::Verbose;
  if (logEnabled(ours)) log(ours, string(domain ? domain : "glib") + ": " + (message ? message : ""));
}

} // namespace

// libnice reads its socket until it is empty before it returns to the loop.
// Were each datagram decrypted and handled inside that read, a sender faster
// than our handling would keep the loop there for good: no timer would fire,
// consent checks would go unanswered and ICE would fail in the middle of a
// transfer. So reading only queues, and the queue is handled a bounded batch
// per pass of the loop, between its timers.
void IceTransport::onPacketReceived(const uint8_t* data, size_t size) {
  if (stopping_ || size == 0) return;
  lastReceived_ = std::chrono::steady_clock::now();
  // A peer that outruns us far beyond any congestion window loses datagrams,
  // as it would on a full network path.
  if (received_.size() + size > kMaxQueuedBytes) return;
  received_.insert(received_.end(), data, data + size);
  receivedSizes_.push_back(uint32_t(size));
  if (drainScheduled_) return;
  drainScheduled_ = true;
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, onDrain, this, nullptr);
  g_source_attach(source, context_);
  g_source_unref(source);
}

bool IceTransport::drainReceived() {
  // stop() dispatches what is left on the context from its own thread, with
  // the agent locked: nothing may be handled or sent then.
  if (stopping_) {
    drainScheduled_ = false;
    return false;
  }
  if (drainNext_ == drainingSizes_.size()) {
    draining_.clear();
    drainingSizes_.clear();
    drainNext_ = 0;
    drainOffset_ = 0;
    std::swap(received_, draining_);
    std::swap(receivedSizes_, drainingSizes_);
  }
  const size_t end = std::min(drainingSizes_.size(), drainNext_ + kDatagramsPerPass);
  holdSends();
  for (; drainNext_ < end && !stopping_; ++drainNext_) {
    const uint32_t size = drainingSizes_[drainNext_];
    if (callbacks_.onPacket)
      guarded("a received datagram", [&] { callbacks_.onPacket(draining_.data() + drainOffset_, size); });
    drainOffset_ += size;
  }
  sendHeld();
  const bool more = !stopping_ && (drainNext_ < drainingSizes_.size() || !receivedSizes_.empty());
  if (!more) drainScheduled_ = false;
  return more;
}

IceTransport::IceTransport(const Configuration& config, bool controlling, Callbacks callbacks)
    : callbacks_(std::move(callbacks)) {
  static std::once_flag logOnce;
  std::call_once(logOnce, [] { g_log_set_handler("libnice", GLogLevelFlags(G_LOG_LEVEL_MASK), logFromGlib, nullptr); });

  context_ = g_main_context_new();
  loop_ = g_main_loop_new(context_, FALSE);
  // libnice's own consent freshness gives up 10 s after the last answer to
  // its checks, which are neither retransmitted nor sent more than every 4 to
  // 6 s: a 5 s outage usually ended the connection. Its keepalives are
  // binding requests instead (the browser's consent checks are answered
  // either way, and they fail the path after 50 s without an answer), and the
  // consent timeout of 30 s is kept by handleTick from what arrives.
  auto options = NiceAgentOption(NICE_AGENT_OPTION_ICE_TRICKLE);
  agent_ = nice_agent_new_full(context_, NICE_COMPATIBILITY_RFC5245, options);
  if (!agent_) {
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
    throw std::runtime_error("cannot create the ICE agent");
  }
  g_object_set(agent_, "controlling-mode", controlling ? TRUE : FALSE, "upnp", FALSE, "ice-tcp", FALSE,
               "keepalive-conncheck", TRUE, "stun-max-retransmissions", 5, "stun-initial-timeout", 500, nullptr);

  // libnice takes one STUN server; the first usable one wins.
  for (const auto& server : config.iceServers) {
    if (server.type != IceServer::Type::Stun) continue;
    std::string ip = resolve(server.hostname, false);
    if (ip.empty()) {
      log(LogLevel::Warning, "cannot resolve STUN server " + server.hostname);
      continue;
    }
    g_object_set(agent_, "stun-server", ip.c_str(), "stun-server-port", guint(server.port), nullptr);
    break;
  }

  streamId_ = nice_agent_add_stream(agent_, 1);
  if (streamId_ == 0) {
    g_object_unref(agent_);
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
    throw std::runtime_error("cannot add an ICE stream");
  }
  nice_agent_set_stream_name(agent_, streamId_, "application");
  if (config.portRangeBegin > 1024 || config.portRangeEnd < 65535) {
    nice_agent_set_port_range(agent_, streamId_, 1, config.portRangeBegin, config.portRangeEnd);
  }

  for (const auto& server : config.iceServers) {
    if (server.type != IceServer::Type::Turn) continue;
    bool tcp = server.relayType != IceServer::RelayType::TurnUdp;
    std::string ip = resolve(server.hostname, tcp);
    if (ip.empty()) {
      log(LogLevel::Warning, "cannot resolve TURN server " + server.hostname);
      continue;
    }
    NiceRelayType type = server.relayType == IceServer::RelayType::TurnUdp   ? NICE_RELAY_TYPE_TURN_UDP
                         : server.relayType == IceServer::RelayType::TurnTcp ? NICE_RELAY_TYPE_TURN_TCP
                                                                             : NICE_RELAY_TYPE_TURN_TLS;
    nice_agent_set_relay_info(agent_, streamId_, 1, ip.c_str(), server.port, server.username.c_str(),
                              server.password.c_str(), type);
  }

  g_signal_connect(agent_, "candidate-gathering-done", G_CALLBACK(onGatheringDone), this);
  g_signal_connect(agent_, "component-state-changed", G_CALLBACK(onStateChanged), this);
  g_signal_connect(agent_, "new-candidate-full", G_CALLBACK(onNewCandidate), this);
  nice_agent_attach_recv(agent_, streamId_, 1, context_, onReceive, this);

  gchar* ufrag = nullptr;
  gchar* pwd = nullptr;
  nice_agent_get_local_credentials(agent_, streamId_, &ufrag, &pwd);
  ufrag_ = ufrag ? ufrag : "";
  pwd_ = pwd ? pwd : "";
  g_free(ufrag);
  g_free(pwd);

  GSource* timer = g_timeout_source_new(100);
  g_source_set_callback(timer, onTimer, this, nullptr);
  g_source_attach(timer, context_);
  g_source_unref(timer);

  thread_ = std::thread([this] {
    g_main_context_push_thread_default(context_);
    g_main_loop_run(loop_);
    g_main_context_pop_thread_default(context_);
  });
  threadId_ = thread_.get_id();
}

IceTransport::~IceTransport() { stop(); }

void IceTransport::stop() {
  // Queued datagrams are dropped, also by the final drain of the context below.
  stopping_ = true;
  if (thread_.joinable()) {
    // A quit that comes before the thread has entered g_main_loop_run is
    // forgotten when it does, and the join would wait for ever; a source
    // that quits from inside the loop works whenever the loop runs.
    g_main_context_invoke(
        context_,
        [](gpointer loop) -> gboolean {
          g_main_loop_quit(static_cast<GMainLoop*>(loop));
          return G_SOURCE_REMOVE;
        },
        loop_);
    thread_.join();
  }
  std::unique_lock lock(agentMutex_);
  stopped_ = true;
  if (agent_) {
    g_signal_handlers_disconnect_by_data(agent_, this);
    nice_agent_attach_recv(agent_, streamId_, 1, context_, nullptr, nullptr);
    nice_agent_remove_stream(agent_, streamId_);
    g_object_unref(agent_);
    agent_ = nullptr;
    // Sources the agent left on the context hold no reference to us any more;
    // drain them so that its sockets close now.
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
  }
}

void IceTransport::invoke(std::function<void()> task) {
  // Once stopping, tasks are dropped: stop() dispatches what is left on the
  // context from its own thread with the agent locked.
  if (stopping_) return;
  // On the loop thread the task runs at once, and outside agentMutex_: it may
  // take usrsctp's locks, under which usrsctp's own threads call send().
  // The agent cannot be released meanwhile: stop() joins this thread first.
  if (onLoopThread()) {
    task();
    return;
  }
  std::shared_lock lock(agentMutex_);
  if (stopped_) return;
  auto* heap = new std::function<void()>(std::move(task));
  g_main_context_invoke_full(
      context_, G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        guarded("a task on the ICE loop", *static_cast<std::function<void()>*>(data));
        return G_SOURCE_REMOVE;
      },
      heap, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

bool IceTransport::onLoopThread() const { return std::this_thread::get_id() == threadId_; }

void IceTransport::setControlling(bool controlling) {
  std::shared_lock lock(agentMutex_);
  if (!stopped_) g_object_set(agent_, "controlling-mode", controlling ? TRUE : FALSE, nullptr);
}

void IceTransport::gather() {
  {
    std::lock_guard lock(mutex_);
    if (gathering_) return;
    gathering_ = true;
  }
  setState(State::Gathering);
  std::shared_lock lock(agentMutex_);
  if (stopped_) return;
  if (!nice_agent_gather_candidates(agent_, streamId_)) {
    log(LogLevel::Error, "ICE candidate gathering failed");
    setState(State::Failed);
    return;
  }
  // The default socket buffers overflow under a fast SCTP sender, and every
  // lost datagram costs a retransmission and half the congestion window.
  if (GPtrArray* sockets = nice_agent_get_sockets(agent_, streamId_, 1)) {
    for (guint i = 0; i < sockets->len; ++i) {
      GSocket* socket = G_SOCKET(g_ptr_array_index(sockets, i));
      constexpr gint size = 4 * 1024 * 1024;
      g_socket_set_option(socket, SOL_SOCKET, SO_RCVBUF, size, nullptr);
      g_socket_set_option(socket, SOL_SOCKET, SO_SNDBUF, size, nullptr);
    }
    g_ptr_array_unref(sockets);
  }
}

void IceTransport::setRemoteCredentials(const std::string& ufrag, const std::string& pwd) {
  {
    std::lock_guard lock(mutex_);
    remoteCredentialsSet_ = true;
    remoteUfrag_ = ufrag;
    remotePwd_ = pwd;
    lastRemoteCandidate_ = std::chrono::steady_clock::now();
    remoteCredentialsTime_ = lastRemoteCandidate_;
  }
  std::shared_lock lock(agentMutex_);
  if (!stopped_) nice_agent_set_remote_credentials(agent_, streamId_, ufrag.c_str(), pwd.c_str());
}

void IceTransport::setConnectTimeout(std::chrono::milliseconds timeout) {
  std::lock_guard lock(mutex_);
  connectTimeout_ = timeout;
}

bool IceTransport::addRemoteCandidate(const std::string& candidateLine) {
  std::string line = candidateLine.rfind("a=", 0) == 0 ? candidateLine : "a=" + candidateLine;
  std::shared_lock agentLock(agentMutex_);
  if (stopped_) return false;
  NiceCandidate* candidate = nice_agent_parse_remote_candidate_sdp(agent_, streamId_, line.c_str());
  if (!candidate) return false;
  // A check from this address may have come before the candidate itself, and
  // libnice then only relabels the peer-reflexive candidate it learned: the
  // candidate is not paired with our other candidates. When the path that
  // works is relayed at both ends, our relayed candidate would never send a
  // check there, so our TURN server never lets the peer's checks through.
  bool learnedFirst = false;
  if (GSList* known = nice_agent_get_remote_candidates(agent_, streamId_, 1)) {
    for (GSList* i = known; i; i = i->next) {
      auto* c = static_cast<NiceCandidate*>(i->data);
      learnedFirst =
          learnedFirst || (c->type == NICE_CANDIDATE_TYPE_PEER_REFLEXIVE && c->transport == candidate->transport &&
                           nice_address_equal(&c->addr, &candidate->addr));
    }
    g_slist_free_full(known, reinterpret_cast<GDestroyNotify>(nice_candidate_free));
  }
  // Candidates that name a host (mDNS) cannot be used without a resolver.
  GSList* list = g_slist_append(nullptr, candidate);
  int added = nice_agent_set_remote_candidates(agent_, streamId_, 1, list);
  g_slist_free_full(list, reinterpret_cast<GDestroyNotify>(nice_candidate_free));
  bool repair = false;
  {
    std::lock_guard lock(mutex_);
    lastRemoteCandidate_ = std::chrono::steady_clock::now();
    if (added > 0 || learnedFirst) remoteCandidates_.push_back(line);
    repair = learnedFirst && state_.load() != State::Connected && repairs_ < kMaxRepairs;
    if (repair) ++repairs_;
  }
  agentLock.unlock();
  if (repair) invoke([this] { repairPairs(); });
  return added > 0 || learnedFirst;
}

// Pairs every remote candidate with every local one again: the check list
// starts over with the same credentials on both sides, which the peer does
// not notice, and the candidates are known before any check can come in.
void IceTransport::repairPairs() {
  if (stopping_ || state_.load() == State::Connected) return;
  std::string ufrag, pwd;
  std::vector<std::string> lines;
  bool done;
  {
    std::lock_guard lock(mutex_);
    ufrag = remoteUfrag_;
    pwd = remotePwd_;
    lines = remoteCandidates_;
    done = remoteDone_;
  }
  log(LogLevel::Verbose, "ICE: a candidate came after its checks; pairing all candidates again");
  nice_agent_restart_stream(agent_, streamId_);
  nice_agent_set_local_credentials(agent_, streamId_, ufrag_.c_str(), pwd_.c_str());
  nice_agent_set_remote_credentials(agent_, streamId_, ufrag.c_str(), pwd.c_str());
  GSList* list = nullptr;
  for (const auto& line : lines) {
    if (NiceCandidate* c = nice_agent_parse_remote_candidate_sdp(agent_, streamId_, line.c_str()))
      list = g_slist_append(list, c);
  }
  if (list) nice_agent_set_remote_candidates(agent_, streamId_, 1, list);
  g_slist_free_full(list, reinterpret_cast<GDestroyNotify>(nice_candidate_free));
  if (done) nice_agent_peer_candidate_gathering_done(agent_, streamId_);
}

void IceTransport::remoteGatheringDone() {
  {
    std::lock_guard lock(mutex_);
    if (remoteDone_) return;
    remoteDone_ = true;
  }
  std::shared_lock lock(agentMutex_);
  if (!stopped_) nice_agent_peer_candidate_gathering_done(agent_, streamId_);
}

bool IceTransport::send(const uint8_t* data, size_t size) {
  // Also keeps a task left on the context, run by stop() with the agent
  // locked, from locking it again.
  if (stopping_) return false;
  // libnice refuses by itself while no pair is selected; a peer's first DTLS
  // flight can come before our side has seen the pair complete.
  std::shared_lock lock(agentMutex_);
  if (stopped_) return false;
  std::unique_lock held(heldMutex_);
  if (holding_) {
    // Other threads' datagrams queue behind the held ones: DTLS drops
    // records that arrive too far out of order.
    held_.insert(held_.end(), data, data + size);
    heldSizes_.push_back(uint32_t(size));
    if (heldSizes_.size() >= kHeldDatagrams) sendHeldLocked();
    return true;
  }
  return nice_agent_send(agent_, streamId_, 1, guint(size), reinterpret_cast<const gchar*>(data)) >= 0;
}

// Handling a batch of received datagrams answers many of them (SCTP
// acknowledgements, the data they let go); sending each on its own costs a
// system call apiece, which is what limits a bulk transfer.
void IceTransport::holdSends() {
  std::lock_guard held(heldMutex_);
  holding_ = true;
}

void IceTransport::sendHeld() {
  std::shared_lock lock(agentMutex_);
  std::lock_guard held(heldMutex_);
  holding_ = false;
  if (!stopped_) sendHeldLocked();
  held_.clear();
  heldSizes_.clear();
}

void IceTransport::sendHeldLocked() {
  if (heldSizes_.empty()) return;
  std::vector<GOutputVector> vectors(heldSizes_.size());
  std::vector<NiceOutputMessage> messages(heldSizes_.size());
  size_t offset = 0;
  for (size_t i = 0; i < heldSizes_.size(); ++i) {
    vectors[i] = {held_.data() + offset, heldSizes_[i]};
    messages[i] = {&vectors[i], 1};
    offset += heldSizes_[i];
  }
  // What the socket cannot take now is lost like on any network path.
  nice_agent_send_messages_nonblocking(agent_, streamId_, 1, messages.data(), guint(messages.size()), nullptr, nullptr);
  held_.clear();
  heldSizes_.clear();
}

void IceTransport::setState(State state) {
  if (state_.exchange(state) == state) return;
  if (callbacks_.onState) callbacks_.onState(state);
}

void IceTransport::handleGatheringDone() {
  if (callbacks_.onGatheringDone) callbacks_.onGatheringDone();
}

void IceTransport::handleStateChange(unsigned state) {
  switch (state) {
  case NICE_COMPONENT_STATE_GATHERING:
  case NICE_COMPONENT_STATE_CONNECTING:
    if (state_.load() != State::Connected) setState(State::Connecting);
    break;
  case NICE_COMPONENT_STATE_CONNECTED:
  case NICE_COMPONENT_STATE_READY:
    setState(State::Connected);
    break;
  case NICE_COMPONENT_STATE_FAILED:
    setState(State::Failed);
    break;
  default:
    break;
  }
}

void IceTransport::handleNewCandidate(void* opaque) {
  auto* candidate = static_cast<NiceCandidate*>(opaque);
  gchar* sdp = nice_agent_generate_local_candidate_sdp(agent_, candidate);
  if (!sdp) return;
  std::string line = sdp;
  g_free(sdp);
  if (line.rfind("a=", 0) == 0) line.erase(0, 2);
  if (callbacks_.onCandidate) callbacks_.onCandidate(line);
}

void IceTransport::handleTick() {
  // Also run by stop() draining the context, with the agent locked.
  if (stopping_) return;
  // A browser does not always say that it has sent its last candidate. After a
  // quiet spell without a connection, tell libnice there are no more so that a
  // hopeless check list ends in failure instead of waiting for ever.
  bool declareDone = false;
  bool connectExpired = false;
  {
    std::lock_guard lock(mutex_);
    if (remoteCredentialsSet_ && !remoteDone_ && state_.load() != State::Connected &&
        std::chrono::steady_clock::now() - lastRemoteCandidate_ > std::chrono::seconds(10)) {
      declareDone = true;
    }
    // Even with every candidate given, libnice may never call an empty or
    // hopeless check list failed.
    const State state = state_.load();
    connectExpired = remoteCredentialsSet_ && state != State::Connected && state != State::Failed &&
                     std::chrono::steady_clock::now() - remoteCredentialsTime_ > connectTimeout_;
  }
  if (declareDone) remoteGatheringDone();
  if (connectExpired) {
    log(LogLevel::Warning, "ICE: no connection within the time allowed, giving up");
    setState(State::Failed);
  }
  if (state_.load() == State::Connected) {
    if (lastReceived_ == std::chrono::steady_clock::time_point{}) lastReceived_ = std::chrono::steady_clock::now();
    if (std::chrono::steady_clock::now() - lastReceived_ > kConsentTimeout) {
      log(LogLevel::Warning, "ICE: nothing received for 30 s, consent expired");
      setState(State::Failed);
    }
  }
  if (callbacks_.onTick) callbacks_.onTick();
}

} // namespace rtc::impl
