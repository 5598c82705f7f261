#pragma once
// The host's connection to the support server's broker: TLS, a user JWT and
// the server's nonce signed by the user key, one subscription, and
// reconnection for as long as the agent runs. It speaks the small part of
// the broker's text protocol that the host needs (CONNECT, SUB, PUB, MSG,
// PING and PONG); one thread, owned here, does the connecting and reading.
#include "agent/server_config.h"

#include <openssl/ssl.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

namespace dravnok::agent {

// How long to wait after `failures` failed attempts in a row: 0.5 s doubling,
// spread by `jitter` (0 to 1) over 80 % to 120 % so that hosts cut off
// together do not all return in the same instant, and 30 s at most.
std::chrono::milliseconds reconnectDelay(int failures, double jitter);
// "1.5 s", for the log.
std::string secondsText(std::chrono::milliseconds delay);

class BrokerLink {
public:
  using Log = std::function<void(const std::string&)>;
  using OnMessage = std::function<void(std::span<const uint8_t> payload)>;
  struct Identity {
    std::string jwt;
    std::function<std::string(std::string_view nonce)> sign; // the raw signature
  };

  // Publishes made while the broker is away wait, up to this much.
  static constexpr size_t kMaxQueuedBytes = 1 << 20;
  // No message of ours comes near this; a longer one is a broken stream.
  static constexpr size_t kMaxPayloadBytes = 1 << 20;

  // Starts connecting at once; `onMessage` runs on the link's thread.
  BrokerLink(std::vector<Endpoint> brokers, std::shared_ptr<SSL_CTX> tls, Identity identity, std::string subject,
             OnMessage onMessage, Log log);
  // Sends what is queued (for a second at most), then closes and joins.
  ~BrokerLink();
  BrokerLink(const BrokerLink&) = delete;
  BrokerLink& operator=(const BrokerLink&) = delete;

  void publish(const std::string& subject, std::span<const uint8_t> payload);

private:
  using Clock = std::chrono::steady_clock;

  void run();
  bool connect(const Endpoint& broker, std::string& reason);
  void serve(std::string& reason);
  void disconnect();
  // Under ioMutex_: reads what arrived and parses whole lines and messages.
  bool readInput(std::vector<std::string>& messages, std::string& reason);
  bool parseInput(std::vector<std::string>& messages, std::string& reason);
  bool flush(std::string& reason);
  void queue(std::string frame);
  // Runs an SSL call until it completes, waiting on the socket as it asks.
  template <typename Call> int sslCall(Call call, Clock::time_point deadline);
  bool stopping() const { return stopping_.load(); }

  std::vector<Endpoint> brokers_;
  std::shared_ptr<SSL_CTX> tls_;
  Identity identity_;
  std::string subject_;
  OnMessage onMessage_;
  Log log_;

  std::mutex ioMutex_; // the connection and the queue below
  std::unique_ptr<SSL, decltype(&SSL_free)> ssl_{nullptr, SSL_free};
  int socket_ = -1;
  bool connected_ = false;
  std::string brokenReason_; // a write from publish() failed
  std::string input_;
  std::deque<std::string> queue_;
  size_t queuedBytes_ = 0;
  size_t written_ = 0; // of the first frame in the queue
  size_t maxPayload_ = 65536;
  int unansweredPings_ = 0;
  bool droppedLogged_ = false;

  std::atomic<bool> stopping_{false};
  std::mutex waitMutex_;
  std::condition_variable wake_;
  std::thread thread_; // last: it uses the members above
};

} // namespace dravnok::agent
