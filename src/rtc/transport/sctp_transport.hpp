#pragma once
// SCTP over DTLS on usrsctp: one association per connection, messages on
// streams with payload protocol identifiers, stream resets for closing.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "rtc/common.hpp"

struct socket;

namespace rtc::impl {

class SctpTransport : public std::enable_shared_from_this<SctpTransport> {
public:
  enum class State { Connecting, Connected, Failed, Closed };

  // Payload protocol identifiers of data channels.
  enum Ppid : uint32_t {
    PpidControl = 50,
    PpidString = 51,
    PpidBinaryPartial = 52,
    PpidBinary = 53,
    PpidStringPartial = 54,
    PpidStringEmpty = 56,
    PpidBinaryEmpty = 57,
  };

  struct Reliability {
    bool unordered = false;
    std::optional<unsigned> maxRetransmits;
    std::optional<unsigned> maxPacketLifeTime;
  };

  // Travels with each received message until the application is done with
  // it. While too many bytes are out, the transport stops reading and the
  // peer's SCTP receive window closes, so a fast sender is slowed down
  // instead of filling our memory.
  using Receipt = std::shared_ptr<void>;

  struct Callbacks {
    std::function<bool(const uint8_t* data, size_t size)> sendPacket; // to DTLS
    std::function<void(std::function<void()>)> runOnLoop;             // the ICE thread
    std::function<void(State)> onState;
    std::function<void(uint16_t stream, uint32_t ppid, binary data, Receipt receipt)> onMessage;
    std::function<void(uint16_t stream, size_t size)> onSent;
    std::function<void(uint16_t stream)> onIncomingReset;
  };

  // Keeps usrsctp and its timer thread alive while a connection needs it.
  // Released by the connection's close, never on a usrsctp thread.
  class Library {
  public:
    Library();
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
  };

  static std::shared_ptr<SctpTransport> create(uint16_t localPort, uint16_t remotePort, size_t mtu,
                                               size_t maxMessageSize, Callbacks callbacks);
  ~SctpTransport();

  // Opens the socket and starts the association (both sides connect; SCTP
  // resolves the collision).
  bool start();
  void receivePacket(const uint8_t* data, size_t size);
  // Reads what usrsctp holds for us, unless too much is still undelivered
  // (loop thread).
  void readPending();
  enum class SendResult { Sent, Queued, Refused };
  // Sends one whole message, or queues it behind earlier ones (or until the
  // association is up); refused once the association is gone.
  SendResult send(uint16_t stream, uint32_t ppid, binary data, Reliability reliability);
  void resetStream(uint16_t stream);
  // Aborts the association and closes the socket.
  void close();
  State state() const { return state_.load(); }

  // Received bytes handed out and not yet released by their receipts.
  size_t undelivered() const { return undelivered_.load(); }

  // From usrsctp's callbacks.
  int outgoing(const void* data, size_t size);
  void readable();
  void writable();

private:
  SctpTransport(uint16_t localPort, uint16_t remotePort, size_t mtu, size_t maxMessageSize, Callbacks callbacks);
  void scheduleRead();
  void handleRead(binary data, uint16_t stream, uint32_t ppid, int flags);
  void released(size_t size);
  void handleNotification(const uint8_t* data, size_t size);
  void flush();
  void trySendLocked(std::vector<std::pair<uint16_t, size_t>>& sent);
  void setState(State state);

  struct Outgoing {
    uint16_t stream;
    uint32_t ppid;
    binary data;
    Reliability reliability;
  };

  const uintptr_t id_;
  const uint16_t localPort_;
  const uint16_t remotePort_;
  const size_t mtu_;
  const size_t maxMessageSize_;
  Callbacks callbacks_;
  std::atomic<State> state_{State::Connecting};

  std::mutex socketMutex_; // guards sock_ against close
  struct socket* sock_ = nullptr;

  std::mutex sendMutex_;
  std::deque<Outgoing> queue_;
  std::set<uint16_t> pendingResets_;
  std::atomic<bool> flushScheduled_{false};
  std::atomic<bool> backlog_{false}; // queue_ or pendingResets_ wait for room

  std::atomic<bool> readScheduled_{false};
  std::atomic<size_t> undelivered_{0};
  std::atomic<bool> readPaused_{false};
  std::vector<std::byte> readBuffer_;  // loop thread only
  std::map<uint16_t, binary> partial_; // loop thread only
};

} // namespace rtc::impl
