#pragma once
// The connection behind rtc::PeerConnection: signalling state, the one
// ICE/DTLS transport with SCTP on top, the channels and tracks it carries.
#include "rtc/peerconnection.hpp"
#include "transport/certificate.hpp"
#include "transport/dispatcher.hpp"
#include "transport/dtls_transport.hpp"
#include "transport/ice_transport.hpp"
#include "transport/sctp_transport.hpp"
#include "transport/srtp_session.hpp"

#include <map>
#include <memory>
#include <mutex>

namespace rtc::impl {

class PeerConnection final : public std::enable_shared_from_this<PeerConnection>,
                             public DataChannelSink,
                             public TrackSink {
public:
  using State = rtc::PeerConnection::State;
  using GatheringState = rtc::PeerConnection::GatheringState;
  using SignalingState = rtc::PeerConnection::SignalingState;

  explicit PeerConnection(Configuration config);
  ~PeerConnection() override;

  const Configuration config;

  void close();
  State state() const;
  GatheringState gatheringState() const;
  optional<Description> localDescription() const;
  optional<Description> remoteDescription() const;

  void setRemoteDescription(Description description);
  void setLocalDescription(Description::Type type);
  void addRemoteCandidate(Candidate candidate);
  shared_ptr<DataChannel> createDataChannel(string label, DataChannelInit init);
  shared_ptr<Track> addTrack(Description::Media description);

  std::function<void(shared_ptr<DataChannel>)> dataChannelCallback;
  std::function<void(shared_ptr<Track>)> trackCallback;
  std::function<void(Description)> localDescriptionCallback;
  std::function<void(Candidate)> localCandidateCallback;
  std::function<void(State)> stateCallback;
  std::function<void(GatheringState)> gatheringCallback;
  std::mutex callbackMutex;

  // DataChannelSink
  bool sendChannelMessage(uint16_t stream, message_ptr message, bool unordered) override;
  void closeChannelStream(uint16_t stream) override;
  size_t remoteMaxMessageSize() const override;
  // TrackSink
  bool sendMedia(message_ptr packet) override;

private:
  void ensureIceLocked(bool controlling);
  void setLocalDescriptionLocked(Description::Type type);
  Description buildAnswerLocked(const Description& offer) const;
  Description buildOfferLocked() const;
  void startDtlsLocked();
  void changeState(State state);
  void changeGatheringState(GatheringState state);
  void closeAllChannels();
  uint16_t allocateStreamLocked() const;
  void openLocalChannel(const shared_ptr<DataChannel>& channel);

  // Transport events, on the ICE thread.
  void onIceState(IceTransport::State state);
  void onLocalCandidate(const string& line);
  void onGatheringDone();
  void onPacket(const uint8_t* data, size_t size);
  void onTick();
  void onDtlsConnected();
  void onMedia(const uint8_t* data, size_t size);
  void onSctpState(SctpTransport::State state);
  void onSctpMessage(uint16_t stream, uint32_t ppid, binary data, SctpTransport::Receipt receipt);
  void onSctpSent(uint16_t stream, size_t size);
  void onIncomingReset(uint16_t stream);

  template <typename F> void post(F&& task) { dispatcher_.post(std::forward<F>(task)); }
  // Hands `value` to the application's callback on the dispatcher thread; the
  // callback is read there, under its lock, so that a late registration counts.
  template <typename T, typename Value> void postCallback(std::function<void(T)> PeerConnection::*member, Value value) {
    post([weak = weak_from_this(), member, value = std::move(value)] {
      auto self = weak.lock();
      if (!self) return;
      std::function<void(T)> callback;
      {
        std::lock_guard lock(self->callbackMutex);
        callback = (*self).*member;
      }
      if (callback) callback(value);
    });
  }

  Dispatcher dispatcher_;
  std::shared_ptr<Certificate> certificate_;
  const size_t dtlsMtu_;
  const size_t sctpMtu_;
  const size_t localMaxMessageSize_;

  std::mutex signalingMutex_; // one signalling call at a time
  mutable std::mutex mutex_;
  bool closed_ = false;
  State state_ = State::New;
  GatheringState gathering_ = GatheringState::New;
  SignalingState signaling_ = SignalingState::Stable;
  optional<Description> local_;
  optional<Description> remote_;
  bool dtlsClient_ = false;
  size_t remoteMaxMessageSize_ = 65536;
  uint16_t remoteSctpPort_ = 5000;
  std::shared_ptr<IceTransport> ice_;
  std::shared_ptr<DtlsTransport> dtls_;
  std::shared_ptr<SctpTransport> sctp_;
  std::unique_ptr<SctpTransport::Library> sctpLibrary_;
  std::shared_ptr<SrtpSession> srtp_; // once the handshake is done, for tracks
  // The application owns the channels: a channel it drops closes (see
  // ~DataChannel), so only weak references are kept here.
  std::map<uint16_t, std::weak_ptr<DataChannel>> channels_;
  std::vector<std::weak_ptr<DataChannel>> pendingChannels_; // before the DTLS role is known
  std::vector<shared_ptr<Track>> tracks_;
};

} // namespace rtc::impl
