#pragma once
// The host's side of the signalling through the broker, without the network:
// every message that arrives on the host's subject goes to receive(), and
// sealed replies leave through the publish function.
//
//   viewer                                 host
//   hello (seq 0, its key and ICE)   ->
//                                    <-    welcome (seq 0, a challenge) or busy
//   offer (the challenge)            ->    starts the helper
//   ice, stop                        ->    to the helper
//                                    <-    event (each of the helper's events)
//
// Nothing that fails a check gets a reply, and the checks that cost least
// come first: size and form, then the hello rate, then decryption.
#include "agent/link_keys.h"
#include "agent/session_channel.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <span>

namespace dravnok::agent {

class Rendezvous {
public:
  using Clock = std::chrono::steady_clock;
  using Log = std::function<void(const std::string&)>;
  using Publish = std::function<void(const std::string& subject, std::vector<uint8_t> message)>;
  // Starts a helper that gets these ICE servers; throws when it cannot.
  using StartSession = std::function<std::shared_ptr<SessionChannel>(const nlohmann::json& iceServers)>;

  static constexpr double kHellosPerSecond = 20;
  static constexpr double kHelloBurst = 40;
  static constexpr size_t kRememberedSids = 4096;
  static constexpr size_t kMaxPending = 8;
  static constexpr std::chrono::seconds kPendingTimeout{30};
  // What a hello may ask the helper to use.
  static constexpr size_t kMaxIceServers = 8;
  static constexpr size_t kMaxIceText = 512;
  static constexpr int kMaxMessageDepth = 8;

  Rendezvous(const LinkSecret& secret, std::string mode, Publish publish, StartSession start, Log log);
  ~Rendezvous();

  void receive(std::span<const uint8_t> message, Clock::time_point now);
  // Forgets handshakes that never got their offer, ends helpers that outlive
  // their stop, lets go of ended ones.
  void tick(Clock::time_point now);
  // Sends the running session's next event to its viewer, waiting up to
  // `wait` for one (or for a session); false when there was none.
  bool pump(std::chrono::milliseconds wait);
  // Stops the running session; its last events still go out through pump().
  void stopSessions();
  // A session runs or a stopped helper has not ended yet.
  bool active() const;

private:
  struct Peer {
    SessionId sid;
    std::string viewer; // its public nkey
    SessionKey toHost;
    SessionKey toViewer;
    uint64_t lastSeq = 0; // the last accepted from the viewer
    uint64_t nextSeq = 0; // the next to the viewer
    std::string challenge;
    nlohmann::json iceServers;
    Clock::time_point since;
    std::shared_ptr<SessionChannel> session;
  };

  void hello(std::span<const uint8_t> message, const SessionId& sid, Clock::time_point now);
  void fromPending(std::deque<Peer>::iterator peer, const nlohmann::json& body);
  void fromRunning(const nlohmann::json& body);
  std::optional<nlohmann::json> open(Peer& peer, std::span<const uint8_t> message, uint64_t seq);
  void send(Peer& peer, const nlohmann::json& body);
  bool takeHelloToken(Clock::time_point now);
  void remember(const SessionId& sid);

  LinkSecret secret_;
  std::string mode_;
  Publish publish_;
  StartSession start_;
  Log log_;
  mutable std::mutex mutex_;
  std::condition_variable started_;
  bool closing_ = false;
  double tokens_ = kHelloBurst;
  std::optional<Clock::time_point> tokensAt_;
  std::set<SessionId> seen_;
  std::deque<SessionId> seenOrder_;
  std::deque<Peer> pending_;
  std::optional<Peer> running_;
  // Taken-over sessions whose helpers are still ending.
  std::vector<std::shared_ptr<SessionChannel>> retiring_;
};

} // namespace dravnok::agent
