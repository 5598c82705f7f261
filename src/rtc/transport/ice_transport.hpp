#pragma once
// ICE over libnice: one stream with one component (everything is bundled and
// RTCP is multiplexed), its own GLib main loop on a thread this object owns.
#include "rtc/configuration.hpp"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct _NiceAgent NiceAgent;
typedef struct _GMainContext GMainContext;
typedef struct _GMainLoop GMainLoop;

namespace rtc::impl {

class IceTransport {
public:
  enum class State { New, Gathering, Connecting, Connected, Failed };

  struct Callbacks {
    std::function<void(State)> onState;
    std::function<void(std::string candidateLine)> onCandidate; // "candidate:..."
    std::function<void()> onGatheringDone;
    std::function<void(const uint8_t* data, size_t size)> onPacket; // on the loop thread
    std::function<void()> onTick;                                   // every 100 ms on the loop thread
  };

  // Throws std::runtime_error when libnice cannot be set up.
  IceTransport(const Configuration& config, bool controlling, Callbacks callbacks);
  ~IceTransport();
  IceTransport(const IceTransport&) = delete;
  IceTransport& operator=(const IceTransport&) = delete;

  std::string localUfrag() const { return ufrag_; }
  std::string localPwd() const { return pwd_; }
  void setControlling(bool controlling);

  void gather();
  void setRemoteCredentials(const std::string& ufrag, const std::string& pwd);
  // Returns false for a line libnice cannot use (other transports, names).
  bool addRemoteCandidate(const std::string& candidateLine);
  void remoteGatheringDone();
  // How long after the peer's credentials ICE may take to connect before it
  // fails; a peer that never sends a usable candidate would otherwise leave
  // it connecting for ever.
  void setConnectTimeout(std::chrono::milliseconds timeout);

  // Thread-safe. While the loop handles received datagrams, what it sends in
  // answer is held and leaves with the rest of that pass (see sendHeld).
  bool send(const uint8_t* data, size_t size);
  bool onLoopThread() const;
  // Runs `task` on the loop thread; dropped once the transport has stopped.
  void invoke(std::function<void()> task);
  // Ends the loop and joins its thread; the agent is released.
  void stop();

  // Called from libnice's signals.
  void handleGatheringDone();
  void handleStateChange(unsigned state);
  void handleNewCandidate(void* candidate);
  void handleTick();
  void onPacketReceived(const uint8_t* data, size_t size);
  // Handles one batch of queued datagrams; true while more are waiting.
  bool drainReceived();
  // Starts the check list over with every candidate paired (loop thread).
  void repairPairs();

private:
  void setState(State state);
  void holdSends();
  void sendHeld();
  void sendHeldLocked(); // under agentMutex_ (shared) and heldMutex_, agent not stopped

  Callbacks callbacks_;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  NiceAgent* agent_ = nullptr;
  unsigned streamId_ = 0;
  std::string ufrag_;
  std::string pwd_;
  std::thread thread_;
  std::thread::id threadId_;
  std::atomic<State> state_{State::New};
  std::mutex mutex_;
  // Shared by callers of the agent, exclusive while it is released.
  mutable std::shared_mutex agentMutex_;
  bool stopped_ = false;
  // Datagrams read by libnice wait here until the loop's next pass handles
  // them (loop thread only, apart from `stopping_`).
  std::atomic<bool> stopping_{false};
  std::vector<uint8_t> received_;
  std::vector<uint32_t> receivedSizes_;
  std::vector<uint8_t> draining_;
  std::vector<uint32_t> drainingSizes_;
  size_t drainNext_ = 0;
  size_t drainOffset_ = 0;
  bool drainScheduled_ = false;
  // Datagrams held back during a pass of the loop, in the order sent.
  std::mutex heldMutex_;
  bool holding_ = false;
  std::vector<uint8_t> held_;
  std::vector<uint32_t> heldSizes_;
  bool gathering_ = false;
  bool remoteCredentialsSet_ = false;
  bool remoteDone_ = false;
  std::string remoteUfrag_;
  std::string remotePwd_;
  std::vector<std::string> remoteCandidates_; // as given, "a=candidate:..."
  int repairs_ = 0;
  std::chrono::steady_clock::time_point lastRemoteCandidate_;
  std::chrono::steady_clock::time_point remoteCredentialsTime_;
  std::chrono::milliseconds connectTimeout_{std::chrono::seconds(30)};
  // When the last datagram came (loop thread only).
  std::chrono::steady_clock::time_point lastReceived_{};
};

} // namespace rtc::impl
