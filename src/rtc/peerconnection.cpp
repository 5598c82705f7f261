#include "rtc/peerconnection.hpp"

#include "transport/peer_connection.hpp"

#include <ostream>

namespace rtc {

PeerConnection::PeerConnection() : PeerConnection(Configuration()) {}

PeerConnection::PeerConnection(Configuration config)
    : impl_(std::make_shared<impl::PeerConnection>(std::move(config))) {}

PeerConnection::~PeerConnection() { impl_->close(); }

void PeerConnection::close() { impl_->close(); }

const Configuration* PeerConnection::config() const { return &impl_->config; }
PeerConnection::State PeerConnection::state() const { return impl_->state(); }
PeerConnection::GatheringState PeerConnection::gatheringState() const { return impl_->gatheringState(); }
optional<Description> PeerConnection::localDescription() const { return impl_->localDescription(); }
optional<Description> PeerConnection::remoteDescription() const { return impl_->remoteDescription(); }

void PeerConnection::setRemoteDescription(Description description) {
  impl_->setRemoteDescription(std::move(description));
}

void PeerConnection::setLocalDescription(Description::Type type) { impl_->setLocalDescription(type); }

void PeerConnection::addRemoteCandidate(Candidate candidate) { impl_->addRemoteCandidate(std::move(candidate)); }

shared_ptr<DataChannel> PeerConnection::createDataChannel(string label, DataChannelInit init) {
  return impl_->createDataChannel(std::move(label), std::move(init));
}

shared_ptr<Track> PeerConnection::addTrack(Description::Media description) {
  return impl_->addTrack(std::move(description));
}

#define DRAVNOK_SET_CALLBACK(member, value)                                                                            \
  {                                                                                                                    \
    std::lock_guard lock(impl_->callbackMutex);                                                                        \
    impl_->member = std::move(value);                                                                                  \
  }

void PeerConnection::onDataChannel(std::function<void(shared_ptr<DataChannel>)> callback) {
  DRAVNOK_SET_CALLBACK(dataChannelCallback, callback)
}
void PeerConnection::onTrack(std::function<void(shared_ptr<Track>)> callback) {
  DRAVNOK_SET_CALLBACK(trackCallback, callback)
}
void PeerConnection::onLocalDescription(std::function<void(Description)> callback) {
  DRAVNOK_SET_CALLBACK(localDescriptionCallback, callback)
}
void PeerConnection::onLocalCandidate(std::function<void(Candidate)> callback) {
  DRAVNOK_SET_CALLBACK(localCandidateCallback, callback)
}
void PeerConnection::onStateChange(std::function<void(State)> callback) {
  DRAVNOK_SET_CALLBACK(stateCallback, callback)
}
void PeerConnection::onGatheringStateChange(std::function<void(GatheringState)> callback){
    DRAVNOK_SET_CALLBACK(gatheringCallback, callback)}

#undef DRAVNOK_SET_CALLBACK

std::ostream&
operator<<(std::ostream& out, PeerConnection::State state) {
  static const char* names[] = {"new", "connecting", "connected", "disconnected", "failed", "closed"};
  return out << names[static_cast<int>(state)];
}

std::ostream& operator<<(std::ostream& out, PeerConnection::GatheringState state) {
  static const char* names[] = {"new", "in-progress", "complete"};
  return out << names[static_cast<int>(state)];
}

} // namespace rtc
