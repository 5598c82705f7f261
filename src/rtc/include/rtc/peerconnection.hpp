#pragma once
#include "rtc/candidate.hpp"
#include "rtc/configuration.hpp"
#include "rtc/datachannel.hpp"
#include "rtc/description.hpp"
#include "rtc/track.hpp"

namespace rtc {

namespace impl {
class PeerConnection;
}

// One WebRTC connection: a single ICE/DTLS transport carrying SCTP data
// channels and media tracks. Callbacks run on the connection's own callback
// thread; the connection may be destroyed from inside them.
class PeerConnection final {
public:
  enum class State : int { New, Connecting, Connected, Disconnected, Failed, Closed };
  enum class GatheringState : int { New, InProgress, Complete };
  enum class SignalingState : int { Stable, HaveLocalOffer, HaveRemoteOffer, HaveLocalPranswer, HaveRemotePranswer };

  PeerConnection();
  PeerConnection(Configuration config);
  ~PeerConnection();
  PeerConnection(const PeerConnection&) = delete;
  PeerConnection& operator=(const PeerConnection&) = delete;

  void close();

  const Configuration* config() const;
  State state() const;
  GatheringState gatheringState() const;
  optional<Description> localDescription() const;
  optional<Description> remoteDescription() const;

  // Throws std::invalid_argument (bad or unsupported SDP) or
  // std::logic_error (wrong signalling state).
  void setRemoteDescription(Description description);
  void setLocalDescription(Description::Type type = Description::Type::Unspec);
  void addRemoteCandidate(Candidate candidate);

  shared_ptr<DataChannel> createDataChannel(string label, DataChannelInit init = {});
  shared_ptr<Track> addTrack(Description::Media description);

  void onDataChannel(std::function<void(shared_ptr<DataChannel> dataChannel)> callback);
  void onTrack(std::function<void(shared_ptr<Track> track)> callback);
  void onLocalDescription(std::function<void(Description description)> callback);
  void onLocalCandidate(std::function<void(Candidate candidate)> callback);
  void onStateChange(std::function<void(State state)> callback);
  void onGatheringStateChange(std::function<void(GatheringState state)> callback);

private:
  shared_ptr<impl::PeerConnection> impl_;
};

std::ostream& operator<<(std::ostream& out, PeerConnection::State state);
std::ostream& operator<<(std::ostream& out, PeerConnection::GatheringState state);

} // namespace rtc
