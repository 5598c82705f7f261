#include "transport/peer_connection.hpp"

#include "dcep.hpp"
#include "header_extensions.hpp"
#include "log.hpp"
#include "packet_kind.hpp"

#include <cstring>
#include <limits>
#include <span>
#include <stdexcept>

namespace rtc::impl {
namespace {

constexpr uint16_t kSctpPort = 5000;
constexpr size_t kDefaultMaxMessageSize = 262144;
// Path MTU of the network below us; DTLS records and SCTP packets are sized
// from it (IPv6 and UDP headers, then the DTLS record overhead).
constexpr size_t kDefaultMtu = 1280;

// SRTP keys from the finished handshake (RFC 5764 section 4.2); empty, with
// an error logged, when the peer negotiated nothing we can use.
std::shared_ptr<SrtpSession> keySrtp(const DtlsTransport& dtls) {
  const string name = dtls.srtpProfile();
  const auto profile = srtpProfileFromName(name);
  if (!profile) {
    log(LogLevel::Error,
        name.empty() ? "the DTLS handshake negotiated no SRTP profile" : "unsupported SRTP profile " + name);
    return nullptr;
  }
  std::vector<uint8_t> material(SrtpSession::keyingMaterialSize(*profile));
  std::shared_ptr<SrtpSession> session;
  try {
    if (!dtls.exportKeyingMaterial(material.data(), material.size(), "EXTRACTOR-dtls_srtp"))
      throw std::runtime_error("the DTLS keying material export failed");
    session = std::make_shared<SrtpSession>(*profile, std::as_bytes(std::span(material)), dtls.isClient());
  } catch (const std::exception& e) {
    log(LogLevel::Error, string("SRTP setup failed: ") + e.what());
  }
  std::fill(material.begin(), material.end(), 0);
  return session;
}

binary toBinary(const std::vector<uint8_t>& bytes) {
  const auto* begin = reinterpret_cast<const byte*>(bytes.data());
  return binary(begin, begin + bytes.size());
}

bool isSctpProtocol(const string& protocol) { return protocol.find("SCTP") != string::npos; }

Description::Role answerRoleFor(Description::Role offered) {
  // We take the client role whenever the offer lets us: it saves a round trip.
  return offered == Description::Role::Active ? Description::Role::Passive : Description::Role::Active;
}

} // namespace

PeerConnection::PeerConnection(Configuration configuration)
    : config(std::move(configuration)), certificate_(Certificate::generate()),
      dtlsMtu_(config.mtu.value_or(kDefaultMtu) - 48), sctpMtu_(dtlsMtu_ - 40),
      localMaxMessageSize_(config.maxMessageSize.value_or(kDefaultMaxMessageSize)) {
  if (config.mtu && *config.mtu < 576) throw std::invalid_argument("MTU below 576 is not supported");
}

PeerConnection::~PeerConnection() { close(); }

PeerConnection::State PeerConnection::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

PeerConnection::GatheringState PeerConnection::gatheringState() const {
  std::lock_guard lock(mutex_);
  return gathering_;
}

optional<Description> PeerConnection::localDescription() const {
  std::lock_guard lock(mutex_);
  return local_;
}

optional<Description> PeerConnection::remoteDescription() const {
  std::lock_guard lock(mutex_);
  return remote_;
}

void PeerConnection::changeState(State state) {
  {
    std::lock_guard lock(mutex_);
    if (state_ == state || state_ == State::Closed) return;
    // Failed stays until the connection is closed.
    if (state_ == State::Failed && state != State::Closed) return;
    state_ = state;
  }
  postCallback(&PeerConnection::stateCallback, state);
}

void PeerConnection::changeGatheringState(GatheringState state) {
  {
    std::lock_guard lock(mutex_);
    if (gathering_ == state) return;
    gathering_ = state;
  }
  postCallback(&PeerConnection::gatheringCallback, state);
}

// ---- signalling ----

void PeerConnection::ensureIceLocked(bool controlling) {
  if (ice_) return;
  std::weak_ptr<PeerConnection> weak = weak_from_this();
  IceTransport::Callbacks callbacks;
  callbacks.onState = [weak](IceTransport::State s) {
    if (auto self = weak.lock()) self->onIceState(s);
  };
  callbacks.onCandidate = [weak](std::string line) {
    if (auto self = weak.lock()) self->onLocalCandidate(line);
  };
  callbacks.onGatheringDone = [weak] {
    if (auto self = weak.lock()) self->onGatheringDone();
  };
  callbacks.onPacket = [weak](const uint8_t* data, size_t size) {
    if (auto self = weak.lock()) self->onPacket(data, size);
  };
  callbacks.onTick = [weak] {
    if (auto self = weak.lock()) self->onTick();
  };
  ice_ = std::make_shared<IceTransport>(config, controlling, std::move(callbacks));
}

void PeerConnection::setRemoteDescription(Description description) {
  std::lock_guard signaling(signalingMutex_);
  auto type = description.type();
  {
    std::lock_guard lock(mutex_);
    if (closed_) throw std::logic_error("the connection is closed");
    if (type == Description::Type::Unspec) {
      type = signaling_ == SignalingState::HaveLocalOffer ? Description::Type::Answer : Description::Type::Offer;
    }
    if (type != Description::Type::Offer && type != Description::Type::Answer) {
      throw std::invalid_argument("unsupported remote description type '" + Description::typeToString(type) + "'");
    }
    if (type == Description::Type::Offer && signaling_ == SignalingState::HaveLocalOffer) {
      throw std::logic_error("remote offer while our own offer is pending");
    }
    if (type == Description::Type::Answer && signaling_ != SignalingState::HaveLocalOffer) {
      throw std::logic_error("remote answer without a local offer");
    }
  }
  if (!description.iceUfrag() || !description.icePwd() || description.iceUfrag()->empty() ||
      description.icePwd()->empty()) {
    throw std::invalid_argument("remote description has no ICE credentials");
  }
  auto fingerprint = description.fingerprint();
  if (!fingerprint) throw std::invalid_argument("remote description has no DTLS fingerprint");
  if (!Certificate::supportedAlgorithm(fingerprint->algorithm)) {
    throw std::invalid_argument("remote description uses the unsupported fingerprint algorithm '" +
                                fingerprint->algorithm + "'");
  }
  bool usable = false;
  for (int i = 0; i < description.mediaCount(); ++i) {
    auto entry = description.entry(i);
    if (entry->isRemoved()) continue;
    if (entry->type() == "application" ? isSctpProtocol(entry->protocol())
                                       : entry->protocol().find("RTP/") != string::npos) {
      usable = true;
    }
  }
  if (!usable) throw std::invalid_argument("remote description has no media section that can be used");
  if (type == Description::Type::Answer && description.role() == Description::Role::ActPass && description.hasSetup()) {
    throw std::invalid_argument("remote answer must not leave the DTLS role open (a=setup:actpass)");
  }
  // Description text may carry the type; the signalling decides it.
  Description remote(description.generateSdp(), type, description.role());

  std::shared_ptr<IceTransport> ice;
  bool answerNow = false;
  {
    std::lock_guard lock(mutex_);
    if (remote_ && (remote_->iceUfrag() != remote.iceUfrag() || remote_->icePwd() != remote.icePwd())) {
      throw std::invalid_argument("ICE restarts are not supported");
    }
    bool firstRemote = !remote_;
    ensureIceLocked(type == Description::Type::Answer);
    ice = ice_;
    remote_ = remote;
    if (auto app = remote.application()) {
      remoteSctpPort_ = app->sctpPort().value_or(kSctpPort);
      size_t size = app->maxMessageSize().value_or(65536);
      remoteMaxMessageSize_ = size == 0 ? std::numeric_limits<size_t>::max() : size;
    }
    if (type == Description::Type::Offer) {
      signaling_ = SignalingState::HaveRemoteOffer;
      answerNow = !config.disableAutoNegotiation;
    } else {
      signaling_ = SignalingState::Stable;
      dtlsClient_ = remote.role() != Description::Role::Active;
    }
    if (!firstRemote) ice = nullptr; // credentials and candidates are already known
  }
  if (ice) {
    ice->setRemoteCredentials(*remote.iceUfrag(), *remote.icePwd());
    for (const auto& candidate : remote.candidates()) {
      if (candidate.parsed() && candidate.transport() == "udp") ice->addRemoteCandidate(candidate.candidate());
    }
    if (remote.endOfCandidates()) ice->remoteGatheringDone();
  }
  if (answerNow) {
    setLocalDescriptionLocked(Description::Type::Answer);
  } else if (type == Description::Type::Answer) {
    std::lock_guard lock(mutex_);
    startDtlsLocked();
  }
}

void PeerConnection::setLocalDescription(Description::Type type) {
  std::lock_guard signaling(signalingMutex_);
  setLocalDescriptionLocked(type);
}

void PeerConnection::setLocalDescriptionLocked(Description::Type type) {
  Description description("");
  std::shared_ptr<IceTransport> ice;
  std::vector<std::pair<shared_ptr<Track>, Description::Media>> negotiated;
  {
    std::lock_guard lock(mutex_);
    if (closed_) throw std::logic_error("the connection is closed");
    if (type == Description::Type::Unspec) {
      type = signaling_ == SignalingState::HaveRemoteOffer ? Description::Type::Answer : Description::Type::Offer;
    }
    if (type == Description::Type::Answer) {
      if (signaling_ != SignalingState::HaveRemoteOffer || !remote_) {
        throw std::logic_error("an answer needs a remote offer");
      }
      ensureIceLocked(false);
      description = buildAnswerLocked(*remote_);
      dtlsClient_ = description.role() == Description::Role::Active;
      signaling_ = SignalingState::Stable;
    } else if (type == Description::Type::Offer) {
      if (signaling_ == SignalingState::HaveRemoteOffer) throw std::logic_error("an offer is pending");
      if (local_ && signaling_ == SignalingState::HaveLocalOffer) return; // already offered
      ensureIceLocked(true);
      description = buildOfferLocked();
      signaling_ = SignalingState::HaveLocalOffer;
    } else {
      throw std::invalid_argument("unsupported local description type '" + Description::typeToString(type) + "'");
    }
    if (local_) description.setOrigin(local_->sessionId(), local_->sessionVersion() + 1);
    local_ = description;
    ice = ice_;
    if (type == Description::Type::Answer) {
      startDtlsLocked();
      for (int i = 0; i < description.mediaCount(); ++i) {
        auto media = std::dynamic_pointer_cast<Description::Media>(description.entry(i));
        if (!media) continue;
        for (const auto& track : tracks_) {
          if (track->mid() == media->mid()) negotiated.emplace_back(track, *media);
        }
      }
    }
  }
  // The handlers hear it outside the lock: they are the application's code.
  for (auto& [track, media] : negotiated) track->setNegotiated(std::move(media));
  postCallback(&PeerConnection::localDescriptionCallback, description);
  changeGatheringState(GatheringState::InProgress);
  ice->gather();
}

Description PeerConnection::buildAnswerLocked(const Description& offer) const {
  Description answer("", Description::Type::Answer, answerRoleFor(offer.role()));
  answer.setIceCredentials(ice_->localUfrag(), ice_->localPwd());
  answer.setFingerprint({"sha-256", certificate_->fingerprint()});
  bool applicationTaken = false;
  for (int i = 0; i < offer.mediaCount(); ++i) {
    auto offered = offer.entry(i);
    shared_ptr<Description::Entry> entry;
    if (!offered->isRemoved() && offered->type() == "application" && isSctpProtocol(offered->protocol()) &&
        !applicationTaken) {
      auto app = std::make_shared<Description::Application>(offered->mid());
      app->setProtocol(offered->protocol());
      app->setSctpPort(kSctpPort);
      app->setMaxMessageSize(localMaxMessageSize_);
      entry = app;
      applicationTaken = true;
    } else if (!offered->isRemoved() && offered->type() != "application") {
      for (const auto& track : tracks_) {
        if (track->mid() != offered->mid()) continue;
        auto media = std::make_shared<Description::Media>(track->description());
        media->setProtocol(offered->protocol());
        impl::answerExtMaps(*offered, *media);
        auto theirs = offered->direction();
        // A direction that the offer does not allow turns inactive.
        if (theirs == Description::Direction::SendOnly || theirs == Description::Direction::Inactive) {
          media->setDirection(Description::Direction::Inactive);
        }
        entry = media;
      }
    }
    if (!entry) {
      entry = std::make_shared<Description::Entry>(offered->type(), offered->mid(), Description::Direction::Inactive);
      entry->setProtocol(offered->protocol());
      entry->setFormats(offered->formats());
      entry->markRemoved();
    }
    answer.addEntry(entry);
  }
  return answer;
}

Description PeerConnection::buildOfferLocked() const {
  Description offer("", Description::Type::Offer, Description::Role::ActPass);
  offer.setIceCredentials(ice_->localUfrag(), ice_->localPwd());
  offer.setFingerprint({"sha-256", certificate_->fingerprint()});
  for (const auto& track : tracks_) offer.addEntry(std::make_shared<Description::Media>(track->description()));
  auto app = std::make_shared<Description::Application>("data");
  app->setSctpPort(kSctpPort);
  app->setMaxMessageSize(localMaxMessageSize_);
  offer.addEntry(app);
  return offer;
}

void PeerConnection::startDtlsLocked() {
  if (dtls_ || !remote_ || !local_ || !ice_) return;
  auto fingerprint = remote_->fingerprint();
  std::weak_ptr<PeerConnection> weak = weak_from_this();
  std::weak_ptr<IceTransport> weakIce = ice_;
  DtlsTransport::Callbacks callbacks;
  callbacks.sendPacket = [weakIce](const uint8_t* data, size_t size) {
    auto ice = weakIce.lock();
    return ice && ice->send(data, size);
  };
  callbacks.onConnected = [weak] {
    if (auto self = weak.lock()) self->onDtlsConnected();
  };
  callbacks.onFailed = [weak](std::string reason) {
    log(LogLevel::Error, reason);
    if (auto self = weak.lock()) {
      self->changeState(State::Failed);
      self->closeAllChannels();
    }
  };
  callbacks.onRemoteClosed = [weak] {
    log(LogLevel::Info, "the remote peer closed the DTLS transport");
    if (auto self = weak.lock()) {
      self->changeState(State::Closed);
      self->closeAllChannels();
    }
  };
  callbacks.onData = [weak](const uint8_t* data, size_t size) {
    auto self = weak.lock();
    if (!self) return;
    std::shared_ptr<SctpTransport> sctp;
    {
      std::lock_guard lock(self->mutex_);
      sctp = self->sctp_;
    }
    if (sctp) sctp->receivePacket(data, size);
  };
  dtls_ = std::make_shared<DtlsTransport>(certificate_, dtlsClient_, fingerprint->algorithm, fingerprint->value,
                                          dtlsMtu_, std::move(callbacks));
  // ICE may already be up when the answer arrives late.
  if (ice_ && state_ == State::Connecting) {
    auto dtls = dtls_;
    ice_->invoke([dtls] { dtls->start(); });
  }
}

void PeerConnection::addRemoteCandidate(Candidate candidate) {
  std::shared_ptr<IceTransport> ice;
  string bundleMid;
  {
    std::lock_guard lock(mutex_);
    if (closed_) throw std::logic_error("the connection is closed");
    if (!remote_) throw std::logic_error("a remote candidate needs the remote description first");
    ice = ice_;
    bundleMid = remote_->bundleMid();
  }
  if (candidate.isEndOfCandidates()) {
    ice->remoteGatheringDone();
    return;
  }
  if (!candidate.parsed()) throw std::invalid_argument("malformed ICE candidate '" + candidate.candidate() + "'");
  // Everything runs on the first bundled section's transport. A browser
  // gathers for the other sections too until it reads the answer; checks on
  // those would only delay the ones that can succeed.
  if (!candidate.mid().empty() && candidate.mid() != bundleMid) return;
  // Our ICE runs over UDP only, and names (mDNS) are not resolved.
  if (candidate.transport() != "udp") return;
  if (candidate.address().find(".local") != string::npos) return;
  if (!ice->addRemoteCandidate(candidate.candidate())) {
    log(LogLevel::Warning, "ICE ignored the remote candidate '" + candidate.candidate() + "'");
  }
}

// ---- transport events ----

void PeerConnection::onIceState(IceTransport::State state) {
  switch (state) {
  case IceTransport::State::Connecting:
    changeState(State::Connecting);
    break;
  case IceTransport::State::Connected: {
    changeState(State::Connecting);
    std::shared_ptr<DtlsTransport> dtls;
    {
      std::lock_guard lock(mutex_);
      dtls = dtls_;
    }
    if (dtls) dtls->start();
    break;
  }
  case IceTransport::State::Failed:
    log(LogLevel::Warning, "ICE failed");
    changeState(State::Failed);
    closeAllChannels();
    break;
  default:
    break;
  }
}

void PeerConnection::onLocalCandidate(const string& line) {
  string mid;
  {
    std::lock_guard lock(mutex_);
    mid = local_ ? local_->bundleMid() : "0";
  }
  Candidate candidate(line, mid);
  postCallback(&PeerConnection::localCandidateCallback, candidate);
}

void PeerConnection::onGatheringDone() { changeGatheringState(GatheringState::Complete); }

void PeerConnection::onPacket(const uint8_t* data, size_t size) {
  if (size == 0) return;
  uint8_t first = data[0];
  // Demultiplexing by the first byte: DTLS records are 20..63, RTP and RTCP
  // 128..191; STUN never reaches us and anything else is noise.
  if (first >= 20 && first <= 63) {
    std::shared_ptr<DtlsTransport> dtls;
    {
      std::lock_guard lock(mutex_);
      dtls = dtls_;
    }
    if (dtls) dtls->receive(data, size);
  } else if (first >= 128 && first <= 191) {
    onMedia(data, size);
  }
}

void PeerConnection::onMedia(const uint8_t* data, size_t size) {
  std::shared_ptr<SrtpSession> srtp;
  std::vector<shared_ptr<Track>> tracks;
  {
    std::lock_guard lock(mutex_);
    srtp = srtp_;
    tracks = tracks_;
  }
  // Before keying, and for packets that fail authentication, nothing can be
  // read: they are dropped.
  if (!srtp || tracks.empty()) return;
  const auto* bytes = reinterpret_cast<const byte*>(data);
  binary packet(bytes, bytes + size);
  const bool rtcp = isRtcp(packet);
  if (!(rtcp ? srtp->unprotectRtcp(packet) : srtp->unprotectRtp(packet))) return;
  auto message = make_message(std::move(packet), rtcp ? Message::Control : Message::Binary);
  // One bundled transport: every track sees the feedback, each its own copy.
  for (size_t i = 0; i < tracks.size(); ++i)
    tracks[i]->incoming(i + 1 == tracks.size() ? message : std::make_shared<Message>(*message));
}

void PeerConnection::onTick() {
  std::shared_ptr<DtlsTransport> dtls;
  std::shared_ptr<SctpTransport> sctp;
  {
    std::lock_guard lock(mutex_);
    dtls = dtls_;
    sctp = sctp_;
  }
  if (dtls) dtls->tick();
  // What usrsctp's timers leave readable (an association that timed out) or
  // writable (abandoned messages) is picked up here even when no packet
  // comes any more.
  if (sctp) {
    sctp->readPending();
    sctp->writable();
  }
}

void PeerConnection::onDtlsConnected() {
  // Keyed outside the lock: the key export and the error log call out.
  std::shared_ptr<SrtpSession> srtp;
  {
    std::shared_ptr<DtlsTransport> dtls;
    {
      std::lock_guard lock(mutex_);
      if (!tracks_.empty() && !srtp_) dtls = dtls_;
    }
    if (dtls) srtp = keySrtp(*dtls);
  }
  std::shared_ptr<SctpTransport> sctp;
  std::vector<shared_ptr<Track>> tracks;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    tracks = tracks_;
    if (srtp) srtp_ = std::move(srtp);
    // Tracks cannot carry anything without SRTP; they stay closed.
    if (!srtp_) tracks.clear();
    if (local_ && local_->application() && remote_ && remote_->application() && !sctp_) {
      std::weak_ptr<PeerConnection> weak = weak_from_this();
      std::weak_ptr<DtlsTransport> weakDtls = dtls_;
      std::weak_ptr<IceTransport> weakIce = ice_;
      SctpTransport::Callbacks callbacks;
      callbacks.sendPacket = [weakDtls](const uint8_t* data, size_t size) {
        auto dtls = weakDtls.lock();
        return dtls && dtls->send(data, size);
      };
      callbacks.runOnLoop = [weakIce](std::function<void()> task) {
        if (auto ice = weakIce.lock()) ice->invoke(std::move(task));
      };
      callbacks.onState = [weak](SctpTransport::State s) {
        if (auto self = weak.lock()) self->onSctpState(s);
      };
      callbacks.onMessage = [weak](uint16_t stream, uint32_t ppid, binary data, SctpTransport::Receipt receipt) {
        if (auto self = weak.lock()) self->onSctpMessage(stream, ppid, std::move(data), std::move(receipt));
      };
      callbacks.onSent = [weak](uint16_t stream, size_t size) {
        if (auto self = weak.lock()) self->onSctpSent(stream, size);
      };
      callbacks.onIncomingReset = [weak](uint16_t stream) {
        if (auto self = weak.lock()) self->onIncomingReset(stream);
      };
      sctpLibrary_ = std::make_unique<SctpTransport::Library>();
      sctp_ = SctpTransport::create(kSctpPort, remoteSctpPort_, sctpMtu_, localMaxMessageSize_, std::move(callbacks));
      sctp = sctp_;
    }
  }
  for (auto& track : tracks) {
    track->setOpen();
    post([track] { track->triggerOpen(); });
  }
  if (sctp) {
    if (!sctp->start()) {
      changeState(State::Failed);
      closeAllChannels();
    }
  } else {
    changeState(State::Connected);
  }
}

uint16_t PeerConnection::allocateStreamLocked() const {
  // The DTLS client takes even stream ids, the server odd ones.
  for (uint16_t id = dtlsClient_ ? 0 : 1; id < 1024; id += 2) {
    if (!channels_.count(id)) return id;
  }
  throw std::runtime_error("no free data channel stream");
}

void PeerConnection::openLocalChannel(const shared_ptr<DataChannel>& channel) {
  std::shared_ptr<SctpTransport> sctp;
  uint16_t stream;
  {
    std::lock_guard lock(mutex_);
    sctp = sctp_;
    stream = allocateStreamLocked();
    channels_[stream] = channel;
  }
  channel->attach(std::static_pointer_cast<DataChannelSink>(shared_from_this()), stream);
  auto reliability = channel->reliability();
  dcep::OpenMessage open;
  open.label = channel->label();
  open.protocol = channel->protocol();
  uint8_t base = reliability.maxRetransmits      ? dcep::PartialReliableRexmit
                 : reliability.maxPacketLifeTime ? dcep::PartialReliableTimed
                                                 : dcep::Reliable;
  open.channelType = uint8_t(base | (reliability.unordered ? 0x80 : 0));
  open.reliabilityParameter = reliability.maxRetransmits.value_or(reliability.maxPacketLifeTime.value_or(0));
  if (sctp->send(stream, SctpTransport::PpidControl, toBinary(dcep::encodeOpen(open)), {}) !=
      SctpTransport::SendResult::Refused) {
    // Messages may follow the OPEN at once; they stay ordered until the ACK.
    channel->setOpen();
    post([channel] { channel->triggerOpen(); });
  }
}

void PeerConnection::onSctpState(SctpTransport::State state) {
  if (state == SctpTransport::State::Connected) {
    std::vector<std::weak_ptr<DataChannel>> pending;
    {
      std::lock_guard lock(mutex_);
      pending.swap(pendingChannels_);
    }
    changeState(State::Connected);
    for (auto& weak : pending) {
      if (auto channel = weak.lock()) openLocalChannel(channel);
    }
  } else if (state == SctpTransport::State::Failed) {
    log(LogLevel::Error, "the SCTP association failed");
    changeState(State::Failed);
    closeAllChannels();
  } else if (state == SctpTransport::State::Closed) {
    log(LogLevel::Info, "the SCTP association ended");
    changeState(State::Closed);
    closeAllChannels();
  }
}

void PeerConnection::onSctpMessage(uint16_t stream, uint32_t ppid, binary data, SctpTransport::Receipt receipt) {
  shared_ptr<DataChannel> channel;
  std::shared_ptr<SctpTransport> sctp;
  bool streamInUse = false;
  {
    std::lock_guard lock(mutex_);
    auto it = channels_.find(stream);
    if (it != channels_.end()) {
      channel = it->second.lock();
      streamInUse = true;
    }
    sctp = sctp_;
  }
  if (ppid == SctpTransport::PpidControl) {
    if (data.empty()) return;
    if (std::to_integer<uint8_t>(data[0]) == dcep::Ack) {
      if (channel) channel->setAcknowledged();
      return;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    auto open = dcep::decodeOpen(std::vector<uint8_t>(bytes, bytes + data.size()));
    if (!open) {
      log(LogLevel::Warning, "ignoring a malformed data channel open message");
      return;
    }
    if (streamInUse) {
      log(LogLevel::Warning, "ignoring a data channel open on a stream already in use");
      return;
    }
    Reliability reliability;
    reliability.unordered = open->unordered();
    if ((open->channelType & 0x7f) == dcep::PartialReliableRexmit)
      reliability.maxRetransmits = open->reliabilityParameter;
    if ((open->channelType & 0x7f) == dcep::PartialReliableTimed)
      reliability.maxPacketLifeTime = open->reliabilityParameter;
    channel = std::make_shared<DataChannel>(open->label, open->protocol, reliability);
    channel->attach(std::static_pointer_cast<DataChannelSink>(shared_from_this()), stream);
    {
      std::lock_guard lock(mutex_);
      if (closed_) return;
      channels_[stream] = channel;
    }
    if (sctp) sctp->send(stream, SctpTransport::PpidControl, toBinary(dcep::encodeAck()), {});
    channel->setOpen();
    channel->setAcknowledged();
    postCallback(&PeerConnection::dataChannelCallback, channel);
    post([channel] { channel->triggerOpen(); });
    return;
  }
  if (!channel) return;
  message_variant message;
  switch (ppid) {
  case SctpTransport::PpidString:
  case SctpTransport::PpidStringPartial:
    message = string(reinterpret_cast<const char*>(data.data()), data.size());
    break;
  case SctpTransport::PpidStringEmpty:
    message = string();
    break;
  case SctpTransport::PpidBinary:
  case SctpTransport::PpidBinaryPartial:
    message = std::move(data);
    break;
  case SctpTransport::PpidBinaryEmpty:
    message = binary();
    break;
  default:
    return; // unknown payloads are not ours to interpret
  }
  // The receipt goes once the application has had the message, which lets
  // the transport read on.
  post([channel, message = std::move(message), receipt = std::move(receipt)]() mutable {
    channel->triggerMessage(std::move(message));
  });
}

void PeerConnection::onSctpSent(uint16_t stream, size_t size) {
  shared_ptr<DataChannel> channel;
  {
    std::lock_guard lock(mutex_);
    auto it = channels_.find(stream);
    if (it != channels_.end()) channel = it->second.lock();
  }
  if (!channel) return;
  size_t left = channel->removeBuffered(size);
  post([channel, left] { channel->triggerBufferedAmount(left); });
}

void PeerConnection::onIncomingReset(uint16_t stream) {
  shared_ptr<DataChannel> channel;
  std::shared_ptr<SctpTransport> sctp;
  {
    std::lock_guard lock(mutex_);
    auto it = channels_.find(stream);
    if (it == channels_.end()) return;
    channel = it->second.lock();
    channels_.erase(it);
    sctp = sctp_;
  }
  // A channel the application dropped closed its side already.
  if (!channel) return;
  // The peer closed its side; we close ours in turn unless we began.
  if (channel->setClosed() && sctp) sctp->resetStream(stream);
  post([channel] { channel->triggerClosed(); });
}

void PeerConnection::closeAllChannels() {
  std::vector<std::weak_ptr<DataChannel>> channels;
  std::vector<shared_ptr<Track>> tracks;
  {
    std::lock_guard lock(mutex_);
    for (auto& [stream, channel] : channels_) channels.push_back(std::move(channel));
    channels_.clear();
    channels.insert(channels.end(), pendingChannels_.begin(), pendingChannels_.end());
    pendingChannels_.clear();
    tracks = tracks_;
  }
  for (auto& weak : channels) {
    auto channel = weak.lock();
    if (!channel) continue;
    channel->setClosed();
    post([channel] { channel->triggerClosed(); });
  }
  for (auto& track : tracks) {
    if (track->setClosed()) post([track] { track->triggerClosed(); });
  }
}

// ---- channels and tracks ----

shared_ptr<DataChannel> PeerConnection::createDataChannel(string label, DataChannelInit init) {
  if (label.size() > 65535 || init.protocol.size() > 65535) throw std::invalid_argument("data channel label too long");
  auto channel = std::make_shared<DataChannel>(std::move(label), std::move(init.protocol), init.reliability);
  bool openNow = false;
  {
    std::lock_guard lock(mutex_);
    if (closed_) throw std::logic_error("the connection is closed");
    if (sctp_ && sctp_->state() == SctpTransport::State::Connected) {
      openNow = true;
    } else {
      pendingChannels_.push_back(channel);
    }
  }
  if (openNow) openLocalChannel(channel);
  return channel;
}

shared_ptr<Track> PeerConnection::addTrack(Description::Media description) {
  std::lock_guard lock(mutex_);
  if (closed_) throw std::logic_error("the connection is closed");
  for (auto& track : tracks_) {
    if (track->mid() == description.mid()) {
      throw std::invalid_argument("a track with mid '" + description.mid() + "' exists already");
    }
  }
  auto track = std::make_shared<Track>(std::move(description));
  track->attach(std::static_pointer_cast<TrackSink>(shared_from_this()));
  tracks_.push_back(track);
  return track;
}

bool PeerConnection::sendChannelMessage(uint16_t stream, message_ptr message, bool unordered) {
  shared_ptr<DataChannel> channel;
  std::shared_ptr<SctpTransport> sctp;
  {
    std::lock_guard lock(mutex_);
    if (closed_) throw std::runtime_error("the connection is closed");
    if (auto it = channels_.find(stream); it != channels_.end()) channel = it->second.lock();
    sctp = sctp_;
  }
  if (!channel || !sctp) throw std::runtime_error("the data channel is closed");
  const bool text = message->type == Message::String;
  const size_t size = message->size();
  uint32_t ppid;
  binary data;
  if (size == 0) {
    // SCTP cannot carry an empty message; one byte with its own identifier stands for it.
    ppid = text ? SctpTransport::PpidStringEmpty : SctpTransport::PpidBinaryEmpty;
    data.assign(1, byte{0});
  } else {
    ppid = text ? SctpTransport::PpidString : SctpTransport::PpidBinary;
    // A message nobody else holds gives up its bytes instead of copying them.
    if (message.use_count() == 1) {
      data = std::move(static_cast<binary&>(*message));
    } else {
      data.assign(message->begin(), message->end());
    }
  }
  auto reliability = channel->reliability();
  SctpTransport::Reliability sctpReliability{unordered, reliability.maxRetransmits, reliability.maxPacketLifeTime};
  channel->addBuffered(size);
  const auto result = sctp->send(stream, ppid, std::move(data), sctpReliability);
  if (result == SctpTransport::SendResult::Refused) {
    channel->removeBuffered(size);
    throw std::runtime_error("the association carrying the data channel is gone");
  }
  return result == SctpTransport::SendResult::Sent;
}

void PeerConnection::closeChannelStream(uint16_t stream) {
  shared_ptr<DataChannel> channel;
  std::shared_ptr<SctpTransport> sctp;
  {
    std::lock_guard lock(mutex_);
    auto it = channels_.find(stream);
    if (it == channels_.end()) return;
    channel = it->second.lock();
    sctp = sctp_;
  }
  // Without a channel it is being destroyed and has marked itself closed.
  if (channel && !channel->setClosed()) return;
  // The channel is gone for us now; the peer's own reset (or the end of the
  // association) delivers the closed event.
  if (sctp && sctp->state() == SctpTransport::State::Connected) {
    sctp->resetStream(stream);
  } else {
    {
      std::lock_guard lock(mutex_);
      channels_.erase(stream);
    }
    if (channel) post([channel] { channel->triggerClosed(); });
  }
}

size_t PeerConnection::remoteMaxMessageSize() const {
  std::lock_guard lock(mutex_);
  return std::min(remoteMaxMessageSize_, localMaxMessageSize_ * 64);
}

bool PeerConnection::sendMedia(message_ptr message) {
  if (!message || message->empty()) return false;
  std::shared_ptr<SrtpSession> srtp;
  std::shared_ptr<IceTransport> ice;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    srtp = srtp_;
    ice = ice_;
  }
  if (!srtp || !ice) return false;
  // Protect a copy: handlers may still hold the clear packet (retransmission
  // history, a pacer's queue).
  binary packet;
  packet.reserve(message->size() + SrtpSession::MaxOverhead);
  packet.assign(message->begin(), message->end());
  const bool rtcp = message->type == Message::Control || isRtcp(packet);
  if (!(rtcp ? srtp->protectRtcp(packet) : srtp->protectRtp(packet))) return false;
  return ice->send(reinterpret_cast<const uint8_t*>(packet.data()), packet.size());
}

// ---- teardown ----

void PeerConnection::close() {
  std::shared_ptr<IceTransport> ice;
  std::shared_ptr<DtlsTransport> dtls;
  std::shared_ptr<SctpTransport> sctp;
  std::unique_ptr<SctpTransport::Library> library;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
    ice = ice_;
    dtls = dtls_;
    sctp = sctp_;
  }
  closeAllChannels();
  changeState(State::Closed);
  // Abort SCTP (the peer's channels close at once), say goodbye in DTLS,
  // then stop ICE and its thread.
  if (sctp) sctp->close();
  if (dtls) dtls->close();
  if (ice) ice->stop();
  {
    std::lock_guard lock(mutex_);
    library = std::move(sctpLibrary_);
    sctp_.reset();
    dtls_.reset();
    ice_.reset();
  }
  library.reset();
  dispatcher_.stop();
}

} // namespace rtc::impl
