#include "transport/sctp_transport.hpp"

#include "log.hpp"
#include "transport/guarded.hpp"
#include "transport/sctp_checksum.hpp"

#include <usrsctp.h>

#ifndef _WIN32
#include <arpa/inet.h> // htons and friends; usrsctp.h brings Winsock's on Windows
#endif
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unordered_map>

namespace rtc::impl {
namespace {

// usrsctp identifies a connection by an opaque address; ours is a number
// looked up here, so that a late callback for a closed connection finds
// nothing instead of freed memory.
class Registry {
public:
  uintptr_t add(const std::shared_ptr<SctpTransport>& transport, uintptr_t id) {
    std::lock_guard lock(mutex_);
    map_[id] = transport;
    return id;
  }
  void remove(uintptr_t id) {
    std::lock_guard lock(mutex_);
    map_.erase(id);
  }
  std::shared_ptr<SctpTransport> find(uintptr_t id) {
    std::lock_guard lock(mutex_);
    auto it = map_.find(id);
    return it == map_.end() ? nullptr : it->second.lock();
  }
  uintptr_t nextId() { return next_.fetch_add(1); }

private:
  std::mutex mutex_;
  std::unordered_map<uintptr_t, std::weak_ptr<SctpTransport>> map_;
  std::atomic<uintptr_t> next_{1};
};

Registry& registry() {
  static Registry instance;
  return instance;
}

// Undelivered received bytes (with a share for each message's own upkeep) at
// which reading from usrsctp stops, and below which it resumes.
constexpr size_t kReadPauseAt = 4 * 1024 * 1024;
constexpr size_t kReadResumeBelow = kReadPauseAt / 2;

// While usrsctp handles a packet on this thread, its upcall only notes what
// became readable or writable; that is taken care of right after.
thread_local uintptr_t tlInputFor = 0;
thread_local int tlInputEvents = 0;

int onOutput(void* addr, void* buffer, size_t length, uint8_t, uint8_t) {
  return guarded(
      "SCTP output",
      [&] {
        auto transport = registry().find(reinterpret_cast<uintptr_t>(addr));
        if (!transport) return -1;
        // usrsctp leaves the checksum to us (see configureOnce).
        setSctpChecksum(static_cast<uint8_t*>(buffer), length);
        return transport->outgoing(buffer, length);
      },
      -1);
}

// Without a receive callback usrsctp keeps received data in the socket until
// we read it, which is what lets its receive window throttle the peer. It
// calls this after handling input or a timer; the transport is looked up by
// number, as in onOutput.
void onUpcall(struct socket* sock, void* arg, int) {
  int events = usrsctp_get_events(sock);
  if (events <= 0) return;
  if (tlInputFor == reinterpret_cast<uintptr_t>(arg)) {
    tlInputEvents |= events;
    return;
  }
  guarded("an SCTP upcall", [&] {
    auto transport = registry().find(reinterpret_cast<uintptr_t>(arg));
    if (!transport) return;
    if (events & SCTP_EVENT_WRITE) transport->writable();
    if (events & (SCTP_EVENT_READ | SCTP_EVENT_ERROR)) transport->readable();
  });
}

// usrsctp without its own threads: one timer thread of ours drives it while
// any connection uses SCTP, and is joined when the last one is done.
struct LibraryState {
  std::mutex mutex;
  int users = 0;
  bool initialised = false;
  std::thread timer;
  std::atomic<bool> running{false};
};

LibraryState& library() {
  static LibraryState state;
  return state;
}

void configureOnce() {
  usrsctp_init_nothreads(0, onOutput, nullptr);
  // DTLS below us authenticates every packet, so usrsctp need not check the
  // checksum of incoming ones; outgoing ones get theirs in onOutput, by the
  // processor's CRC instruction instead of usrsctp's table.
  usrsctp_enable_crc32c_offload();
  usrsctp_sysctl_set_sctp_ecn_enable(0);
  usrsctp_sysctl_set_sctp_pr_enable(1);
  usrsctp_sysctl_set_sctp_reconfig_enable(1);
  // A message of up to 256 KiB must fit in the send buffer as a whole. The
  // receive window stays well below what the UDP socket buffers hold, so a
  // receiver that is briefly descheduled does not turn a burst into losses.
  usrsctp_sysctl_set_sctp_sendspace(4 * 1024 * 1024);
  usrsctp_sysctl_set_sctp_recvspace(1024 * 1024);
  usrsctp_sysctl_set_sctp_max_chunks_on_queue(64 * 1024);
  usrsctp_sysctl_set_sctp_initial_cwnd(10);
  usrsctp_sysctl_set_sctp_max_burst_default(10);
  // Give up on a dead peer in seconds, not minutes.
  usrsctp_sysctl_set_sctp_rto_min_default(200);
  usrsctp_sysctl_set_sctp_rto_max_default(10000);
  usrsctp_sysctl_set_sctp_rto_initial_default(1000);
  usrsctp_sysctl_set_sctp_init_rto_max_default(10000);
  usrsctp_sysctl_set_sctp_init_rtx_max_default(8);
  usrsctp_sysctl_set_sctp_assoc_rtx_max_default(10);
  usrsctp_sysctl_set_sctp_path_rtx_max_default(10);
  usrsctp_sysctl_set_sctp_heartbeat_interval_default(10000);
  usrsctp_sysctl_set_sctp_delayed_sack_time_default(20);
}

} // namespace

SctpTransport::Library::Library() {
  auto& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.initialised) {
    configureOnce();
    lib.initialised = true;
  }
  if (lib.users++ == 0) {
    lib.running = true;
    lib.timer = std::thread([&lib] {
      auto last = std::chrono::steady_clock::now();
      while (lib.running) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        auto now = std::chrono::steady_clock::now();
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count();
        if (elapsed > 0) {
          usrsctp_handle_timers(static_cast<uint32_t>(elapsed));
          last += std::chrono::milliseconds(elapsed);
        }
      }
    });
  }
}

SctpTransport::Library::~Library() {
  auto& lib = library();
  std::lock_guard lock(lib.mutex);
  if (--lib.users == 0) {
    lib.running = false;
    lib.timer.join();
  }
}

std::shared_ptr<SctpTransport> SctpTransport::create(uint16_t localPort, uint16_t remotePort, size_t mtu,
                                                     size_t maxMessageSize, Callbacks callbacks) {
  std::shared_ptr<SctpTransport> transport(
      new SctpTransport(localPort, remotePort, mtu, maxMessageSize, std::move(callbacks)));
  registry().add(transport, transport->id_);
  return transport;
}

SctpTransport::SctpTransport(uint16_t localPort, uint16_t remotePort, size_t mtu, size_t maxMessageSize,
                             Callbacks callbacks)
    : id_(registry().nextId()), localPort_(localPort), remotePort_(remotePort), mtu_(mtu),
      maxMessageSize_(maxMessageSize), callbacks_(std::move(callbacks)) {}

SctpTransport::~SctpTransport() {
  close();
  registry().remove(id_);
}

bool SctpTransport::start() {
  std::lock_guard lock(socketMutex_);
  auto* ulp = reinterpret_cast<void*>(id_);
  usrsctp_register_address(ulp);
  sock_ = usrsctp_socket(AF_CONN, SOCK_STREAM, IPPROTO_SCTP, nullptr, nullptr, 0, nullptr);
  if (!sock_) {
    log(LogLevel::Error, "cannot create the SCTP socket: " + std::string(std::strerror(errno)));
    usrsctp_deregister_address(ulp);
    return false;
  }
  usrsctp_set_non_blocking(sock_, 1);
  usrsctp_set_upcall(sock_, onUpcall, ulp);

  // Closing aborts at once: there is no one left to read a graceful ending.
  linger lingerOption{1, 0};
  usrsctp_setsockopt(sock_, SOL_SOCKET, SO_LINGER, &lingerOption, sizeof lingerOption);
  int on = 1;
  usrsctp_setsockopt(sock_, IPPROTO_SCTP, SCTP_RECVRCVINFO, &on, sizeof on);
  usrsctp_setsockopt(sock_, IPPROTO_SCTP, SCTP_NODELAY, &on, sizeof on);
  sctp_assoc_value reset{};
  reset.assoc_id = SCTP_ALL_ASSOC;
  reset.assoc_value = SCTP_ENABLE_RESET_STREAM_REQ;
  usrsctp_setsockopt(sock_, IPPROTO_SCTP, SCTP_ENABLE_STREAM_RESET, &reset, sizeof reset);
  for (uint16_t type : {SCTP_ASSOC_CHANGE, SCTP_STREAM_RESET_EVENT, SCTP_SENDER_DRY_EVENT}) {
    sctp_event event{};
    event.se_assoc_id = SCTP_ALL_ASSOC;
    event.se_type = type;
    event.se_on = 1;
    usrsctp_setsockopt(sock_, IPPROTO_SCTP, SCTP_EVENT, &event, sizeof event);
  }
  sctp_initmsg init{};
  init.sinit_num_ostreams = 1024;
  init.sinit_max_instreams = 1024;
  usrsctp_setsockopt(sock_, IPPROTO_SCTP, SCTP_INITMSG, &init, sizeof init);
  sctp_paddrparams params{};
  params.spp_assoc_id = SCTP_FUTURE_ASSOC;
  params.spp_flags = SPP_PMTUD_DISABLE;
  params.spp_pathmtu = static_cast<uint32_t>(mtu_);
  usrsctp_setsockopt(sock_, IPPROTO_SCTP, SCTP_PEER_ADDR_PARAMS, &params, sizeof params);

  sockaddr_conn local{};
  local.sconn_family = AF_CONN;
  local.sconn_port = htons(localPort_);
  local.sconn_addr = ulp;
  if (usrsctp_bind(sock_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    log(LogLevel::Error, "cannot bind the SCTP socket: " + std::string(std::strerror(errno)));
    return false;
  }
  sockaddr_conn remote = local;
  remote.sconn_port = htons(remotePort_);
  int rc = usrsctp_connect(sock_, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
  if (rc != 0 && errno != EINPROGRESS) {
    log(LogLevel::Error, "cannot start the SCTP association: " + std::string(std::strerror(errno)));
    return false;
  }
  return true;
}

void SctpTransport::close() {
  struct socket* sock = nullptr;
  {
    std::lock_guard lock(socketMutex_);
    std::swap(sock, sock_);
  }
  if (!sock) return;
  {
    std::lock_guard lock(sendMutex_);
    queue_.clear();
  }
  usrsctp_close(sock);
  usrsctp_deregister_address(reinterpret_cast<void*>(id_));
  State s = state_.load();
  if (s == State::Connecting || s == State::Connected) state_ = State::Closed;
}

void SctpTransport::receivePacket(const uint8_t* data, size_t size) {
  {
    std::lock_guard lock(socketMutex_);
    if (!sock_) return;
  }
  tlInputFor = id_;
  tlInputEvents = 0;
  usrsctp_conninput(reinterpret_cast<void*>(id_), data, size, 0);
  tlInputFor = 0;
  const int events = tlInputEvents;
  if (events & (SCTP_EVENT_READ | SCTP_EVENT_ERROR)) readPending();
  // Acknowledgements make room for what waits to be sent.
  if ((events & SCTP_EVENT_WRITE) && backlog_.load()) flush();
}

int SctpTransport::outgoing(const void* data, size_t size) {
  if (callbacks_.sendPacket && callbacks_.sendPacket(static_cast<const uint8_t*>(data), size)) return 0;
  return -1;
}

void SctpTransport::readable() { scheduleRead(); }

void SctpTransport::scheduleRead() {
  if (readScheduled_.exchange(true)) return;
  if (!callbacks_.runOnLoop) return;
  callbacks_.runOnLoop([weak = weak_from_this()] {
    if (auto self = weak.lock()) {
      self->readScheduled_ = false;
      self->readPending();
    }
  });
}

void SctpTransport::readPending() {
  if (readBuffer_.empty()) readBuffer_.resize(256 * 1024);
  for (;;) {
    if (undelivered_.load() >= kReadPauseAt) {
      // Released receipts resume reading once this is seen set; the second
      // look covers a release that came in between.
      readPaused_ = true;
      if (undelivered_.load() >= kReadResumeBelow || !readPaused_.exchange(false)) return;
    }
    sctp_rcvinfo info{};
    socklen_t infoLength = sizeof info;
    unsigned infoType = SCTP_RECVV_NOINFO;
    int flags = 0;
    ssize_t n;
    {
      std::lock_guard lock(socketMutex_);
      if (!sock_) return;
      n = usrsctp_recvv(sock_, readBuffer_.data(), readBuffer_.size(), nullptr, nullptr, &info, &infoLength, &infoType,
                        &flags);
    }
    if (n < 0) return; // nothing more for now (EWOULDBLOCK), or the socket is done
    if (n == 0 && !(flags & MSG_NOTIFICATION)) {
      // The association has ended; usrsctp reports how by a notification.
      return;
    }
    uint16_t stream = infoType == SCTP_RECVV_RCVINFO ? info.rcv_sid : 0;
    uint32_t ppid = infoType == SCTP_RECVV_RCVINFO ? ntohl(info.rcv_ppid) : 0;
    handleRead(binary(readBuffer_.begin(), readBuffer_.begin() + n), stream, ppid, flags);
  }
}

void SctpTransport::released(size_t size) {
  size_t left = undelivered_.fetch_sub(size) - size;
  if (left < kReadResumeBelow && readPaused_.exchange(false)) scheduleRead();
}

void SctpTransport::handleRead(binary data, uint16_t stream, uint32_t ppid, int flags) {
  if (flags & MSG_NOTIFICATION) {
    handleNotification(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    return;
  }
  auto& buffer = partial_[stream];
  if (buffer.empty()) {
    buffer = std::move(data);
  } else {
    buffer.insert(buffer.end(), data.begin(), data.end());
  }
  if (buffer.size() > maxMessageSize_ + 16) {
    // A peer that ignores our size limit must not make us grow for ever.
    log(LogLevel::Warning, "dropping an SCTP message larger than the limit");
    buffer.clear();
    buffer.shrink_to_fit();
    return;
  }
  if (!(flags & MSG_EOR)) return;
  binary message = std::move(buffer);
  partial_.erase(stream);
  // Each message costs its bytes and some upkeep on the way to the
  // application; a flood of tiny ones must be bounded too.
  const size_t cost = message.size() + 64;
  undelivered_ += cost;
  Receipt receipt(nullptr, [weak = weak_from_this(), cost](void*) {
    if (auto self = weak.lock()) self->released(cost);
  });
  if (callbacks_.onMessage) callbacks_.onMessage(stream, ppid, std::move(message), std::move(receipt));
}

void SctpTransport::handleNotification(const uint8_t* data, size_t size) {
  if (size < sizeof(sctp_notification::sctp_tlv)) return;
  auto* n = reinterpret_cast<const sctp_notification*>(data);
  if (n->sn_header.sn_length > size) return;
  switch (n->sn_header.sn_type) {
  case SCTP_ASSOC_CHANGE: {
    const auto& change = n->sn_assoc_change;
    if (change.sac_state == SCTP_COMM_UP) {
      setState(State::Connected);
      flush();
    } else if (change.sac_state == SCTP_COMM_LOST || change.sac_state == SCTP_SHUTDOWN_COMP) {
      setState(state_.load() == State::Connecting ? State::Failed : State::Closed);
    } else if (change.sac_state == SCTP_CANT_STR_ASSOC) {
      setState(State::Failed);
    }
    break;
  }
  case SCTP_STREAM_RESET_EVENT: {
    const auto& event = n->sn_strreset_event;
    size_t count = (event.strreset_length - sizeof(sctp_stream_reset_event)) / sizeof(uint16_t);
    if (event.strreset_length < sizeof(sctp_stream_reset_event) || event.strreset_length > size) break;
    if (event.strreset_flags & (SCTP_STREAM_RESET_DENIED | SCTP_STREAM_RESET_FAILED)) break;
    if (event.strreset_flags & SCTP_STREAM_RESET_INCOMING_SSN) {
      for (size_t i = 0; i < count; ++i) {
        if (callbacks_.onIncomingReset) callbacks_.onIncomingReset(event.strreset_stream_list[i]);
      }
    }
    break;
  }
  case SCTP_SENDER_DRY_EVENT:
    flush();
    break;
  default:
    break;
  }
}

void SctpTransport::setState(State state) {
  State previous = state_.exchange(state);
  if (previous == state) return;
  if (previous == State::Failed || previous == State::Closed) {
    state_ = previous; // final states stay
    return;
  }
  if (callbacks_.onState) callbacks_.onState(state);
}

SctpTransport::SendResult SctpTransport::send(uint16_t stream, uint32_t ppid, binary data, Reliability reliability) {
  State s = state_.load();
  if (s == State::Failed || s == State::Closed) return SendResult::Refused;
  std::vector<std::pair<uint16_t, size_t>> sent;
  bool waiting;
  {
    std::lock_guard lock(sendMutex_);
    queue_.push_back({stream, ppid, std::move(data), reliability});
    backlog_ = true;
    if (queue_.size() == 1 && s == State::Connected) trySendLocked(sent);
    waiting = !queue_.empty();
  }
  if (callbacks_.onSent) {
    for (auto& [id, size] : sent) callbacks_.onSent(id, size);
  }
  return waiting ? SendResult::Queued : SendResult::Sent;
}

void SctpTransport::writable() {
  if (!backlog_.load() || flushScheduled_.exchange(true)) return;
  if (!callbacks_.runOnLoop) return;
  callbacks_.runOnLoop([weak = weak_from_this()] {
    if (auto self = weak.lock()) {
      self->flushScheduled_ = false;
      self->flush();
    }
  });
}

void SctpTransport::flush() {
  if (state_.load() != State::Connected) return;
  std::vector<std::pair<uint16_t, size_t>> sent;
  {
    std::lock_guard lock(sendMutex_);
    trySendLocked(sent);
  }
  if (callbacks_.onSent) {
    for (auto& [id, size] : sent) callbacks_.onSent(id, size);
  }
}

void SctpTransport::trySendLocked(std::vector<std::pair<uint16_t, size_t>>& sent) {
  std::lock_guard socketLock(socketMutex_);
  if (!sock_) return;
  while (!queue_.empty()) {
    auto& out = queue_.front();
    sctp_sendv_spa spa{};
    spa.sendv_flags = SCTP_SEND_SNDINFO_VALID;
    spa.sendv_sndinfo.snd_sid = out.stream;
    spa.sendv_sndinfo.snd_ppid = htonl(out.ppid);
    spa.sendv_sndinfo.snd_flags = SCTP_EOR | (out.reliability.unordered ? SCTP_UNORDERED : 0);
    if (out.reliability.maxRetransmits) {
      spa.sendv_flags |= SCTP_SEND_PRINFO_VALID;
      spa.sendv_prinfo.pr_policy = SCTP_PR_SCTP_RTX;
      spa.sendv_prinfo.pr_value = *out.reliability.maxRetransmits;
    } else if (out.reliability.maxPacketLifeTime) {
      spa.sendv_flags |= SCTP_SEND_PRINFO_VALID;
      spa.sendv_prinfo.pr_policy = SCTP_PR_SCTP_TTL;
      spa.sendv_prinfo.pr_value = *out.reliability.maxPacketLifeTime;
    }
    ssize_t rc =
        usrsctp_sendv(sock_, out.data.data(), out.data.size(), nullptr, 0, &spa, sizeof spa, SCTP_SENDV_SPA, 0);
    if (rc < 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) break;
    if (rc < 0) log(LogLevel::Warning, "SCTP send failed: " + std::string(std::strerror(errno)));
    size_t size = out.ppid == PpidStringEmpty || out.ppid == PpidBinaryEmpty ? 0 : out.data.size();
    if (out.ppid != PpidControl) sent.emplace_back(out.stream, size);
    queue_.pop_front();
  }
  // A stream is reset only after everything queued on it has left.
  for (auto it = pendingResets_.begin(); it != pendingResets_.end();) {
    bool queued = false;
    for (const auto& out : queue_) queued = queued || out.stream == *it;
    if (queued) {
      ++it;
      continue;
    }
    size_t length = sizeof(sctp_reset_streams) + sizeof(uint16_t);
    std::vector<uint8_t> buffer(length);
    auto* request = reinterpret_cast<sctp_reset_streams*>(buffer.data());
    request->srs_assoc_id = SCTP_ALL_ASSOC;
    request->srs_flags = SCTP_STREAM_RESET_OUTGOING;
    request->srs_number_streams = 1;
    request->srs_stream_list[0] = *it;
    if (usrsctp_setsockopt(sock_, IPPROTO_SCTP, SCTP_RESET_STREAMS, request, socklen_t(length)) != 0 &&
        (errno == EAGAIN || errno == EALREADY || errno == EBUSY)) {
      // Another reset is in flight; try again when the sender is dry.
      ++it;
      continue;
    }
    it = pendingResets_.erase(it);
  }
  backlog_ = !queue_.empty() || !pendingResets_.empty();
}

void SctpTransport::resetStream(uint16_t stream) {
  std::vector<std::pair<uint16_t, size_t>> sent;
  {
    std::lock_guard lock(sendMutex_);
    pendingResets_.insert(stream);
    backlog_ = true;
    if (state_.load() == State::Connected) trySendLocked(sent);
  }
  if (callbacks_.onSent) {
    for (auto& [id, size] : sent) callbacks_.onSent(id, size);
  }
}

} // namespace rtc::impl
