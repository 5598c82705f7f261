#if DRAVNOK_HAVE_WEBRTC
#include "session/remote_session.h"

#include "session/video_offer.h"

#include <rtc/rtc.hpp>

#include <mutex>

namespace dravnok {
namespace {

constexpr rtc::SSRC kVideoSsrc = 42;
constexpr const char* kVideoCname = "dravnok-remote";
constexpr const char* kTrackProfile = "profile-level-id=42e01f;packetization-mode=1;level-asymmetry-allowed=1";

} // namespace

struct RemoteSession::Impl {
  explicit Impl(HostCallbacks callbacks) : callbacks(std::move(callbacks)) {}

  void log(const std::string& level, const std::string& message) { callbacks.onLog(level, message); }

  rtc::Configuration configurationFor(const std::vector<IceServerEntry>& servers);
  void registerPeerHandlers();
  void createVideoTrack(const std::string& mid, int payloadType);
  void onDataChannel(std::shared_ptr<rtc::DataChannel> channel);
  void onInputMessage(const rtc::message_variant& message);
  void stopLocked();

  HostCallbacks callbacks;
  bool viewOnly = true;
  std::string sessionId;
  uint32_t parentPid = 0;
  std::shared_ptr<rtc::PeerConnection> peerConnection;
  std::shared_ptr<rtc::Track> videoTrack;

  // The channels arrive on library threads while the main thread may stop.
  std::mutex channelMutex;
  std::shared_ptr<rtc::DataChannel> inputChannel;
  std::shared_ptr<rtc::DataChannel> filesChannel;

  std::mutex sessionMutex;
  bool stopped = false;
};

rtc::Configuration RemoteSession::Impl::configurationFor(const std::vector<IceServerEntry>& servers) {
  rtc::Configuration config;
  for (const auto& entry : servers) {
    try {
      rtc::IceServer server(entry.url);
      if (!entry.username.empty()) {
        server.username = entry.username;
        server.password = entry.credential;
      }
      config.iceServers.push_back(std::move(server));
    } catch (const std::exception& e) {
      log("warn", "skipping bad ICE server '" + entry.url + "': " + e.what());
    }
  }
  return config;
}

void RemoteSession::Impl::registerPeerHandlers() {
  // The handlers run on library threads and take no session lock.
  peerConnection->onStateChange([this](rtc::PeerConnection::State state) {
    switch (state) {
    case rtc::PeerConnection::State::Connecting:
      callbacks.onState("connecting");
      break;
    case rtc::PeerConnection::State::Connected:
      callbacks.onState("connected");
      break;
    case rtc::PeerConnection::State::Failed:
      callbacks.onState("failed");
      break;
    case rtc::PeerConnection::State::Closed:
      callbacks.onState("closed");
      break;
    case rtc::PeerConnection::State::New:
    case rtc::PeerConnection::State::Disconnected:
      break;
    }
  });
  peerConnection->onLocalDescription([this](rtc::Description description) {
    if (description.typeString() == "answer") callbacks.onAnswer(std::string(description));
  });
  peerConnection->onLocalCandidate(
      [this](rtc::Candidate candidate) { callbacks.onCandidate(candidate.candidate(), candidate.mid(), 0, false); });
  peerConnection->onGatheringStateChange([this](rtc::PeerConnection::GatheringState state) {
    if (state == rtc::PeerConnection::GatheringState::Complete) callbacks.onCandidate("", "", 0, true);
  });
  peerConnection->onDataChannel([this](std::shared_ptr<rtc::DataChannel> channel) { onDataChannel(channel); });
}

void RemoteSession::Impl::createVideoTrack(const std::string& mid, int payloadType) {
  rtc::Description::Video description(mid, rtc::Description::Direction::SendOnly);
  description.addH264Codec(payloadType, kTrackProfile);
  description.addSSRC(kVideoSsrc, kVideoCname);
  videoTrack = peerConnection->addTrack(description);
  videoTrack->onOpen([this] { log("info", "video track open"); });
}

void RemoteSession::Impl::onDataChannel(std::shared_ptr<rtc::DataChannel> channel) {
  std::string label = channel->label();
  if (label == "input") {
    {
      std::lock_guard lock(channelMutex);
      inputChannel = channel;
    }
    channel->onMessage([this](rtc::message_variant message) { onInputMessage(message); });
    channel->onOpen([this] { log("info", "input channel open"); });
    channel->onClosed([this] { log("info", "input channel closed"); });
  } else if (label == "files") {
    if (viewOnly) {
      log("info", "files channel refused (view-only session)");
      return;
    }
    std::lock_guard lock(channelMutex);
    filesChannel = channel;
  } else {
    log("info", "ignoring unexpected data channel: " + label);
  }
}

void RemoteSession::Impl::onInputMessage(const rtc::message_variant&) {}

RemoteSession::RemoteSession(HostCallbacks callbacks) : impl_(std::make_unique<Impl>(std::move(callbacks))) {}

RemoteSession::~RemoteSession() { stop(); }

void RemoteSession::start(const std::string& sessionId, bool viewOnly, const std::vector<IceServerEntry>& servers,
                          uint32_t parentPid) {
  Impl& s = *impl_;
  std::lock_guard lock(s.sessionMutex);
  if (s.peerConnection || s.stopped) return; // one session per process
  s.sessionId = sessionId;
  s.viewOnly = viewOnly;
  s.parentPid = parentPid;
  s.peerConnection = std::make_shared<rtc::PeerConnection>(s.configurationFor(servers));
  s.registerPeerHandlers();
}

void RemoteSession::handleOffer(const std::string& sdp) {
  Impl& s = *impl_;
  std::lock_guard lock(s.sessionMutex);
  if (!s.peerConnection) {
    s.log("error", "offer received before start");
    return;
  }
  if (!s.videoTrack) {
    VideoOfferInfo info;
    if (scanVideoOffer(sdp, info)) {
      s.log("info", "offer video: mid=" + info.mid + " H.264 pt=" + std::to_string(info.payloadType) +
                        " profile-level-id=" + (info.profileLevelId.empty() ? "?" : info.profileLevelId));
      s.createVideoTrack(info.mid, info.payloadType);
    } else {
      s.log("error", "offer has no usable H.264 (packetization-mode=1) payload type \u2014 cannot send video");
    }
  }
  try {
    s.peerConnection->setRemoteDescription(rtc::Description(sdp, "offer"));
  } catch (const std::exception& e) {
    s.log("error", std::string("setRemoteDescription failed: ") + e.what());
  }
}

void RemoteSession::addRemoteCandidate(const std::string& candidate, const std::string& mid) {
  Impl& s = *impl_;
  std::lock_guard lock(s.sessionMutex);
  if (!s.peerConnection || candidate.empty()) return;
  try {
    s.peerConnection->addRemoteCandidate(mid.empty() ? rtc::Candidate(candidate) : rtc::Candidate(candidate, mid));
  } catch (const std::exception& e) {
    s.log("warn", std::string("addRemoteCandidate failed: ") + e.what());
  }
}

void RemoteSession::stop() {
  Impl& s = *impl_;
  std::lock_guard lock(s.sessionMutex);
  if (s.stopped) return;
  s.stopped = true;
  s.stopLocked();
}

void RemoteSession::Impl::stopLocked() {
  if (peerConnection) peerConnection->close();
  std::shared_ptr<rtc::DataChannel> input, files;
  {
    std::lock_guard lock(channelMutex);
    input = std::move(inputChannel);
    files = std::move(filesChannel);
  }
  videoTrack.reset();
  input.reset();
  files.reset();
  peerConnection.reset();
}

} // namespace dravnok
#endif
