#if DRAVNOK_HAVE_WEBRTC
#include "session/remote_session.h"

#include "capture/screen_capturer.h"
#include "clipboard/clip_watch_message.h"
#include "clipboard/clipboard_state.h"
#include "clipboard/clipboard_watcher.h"
#include "clipboard/input_hooks.h"
#include "congestion/adaptive_pacer.h"
#include "congestion/feedback_monitor.h"
#include "congestion/rate_controller.h"
#include "files/attach_files_channel.h"
#include "files/file_transfer_slot.h"
#include "input/input_channel_handler.h"
#include "input/input_injector.h"
#include "session/elevated_relay.h"
#include "session/monitor_list.h"
#include "session/video_offer.h"
#include "video/h264_encoder.h"
#include "video/rtc_track_port.h"
#include "video/video_sender.h"

#include <rtc/rtc.hpp>

#include <chrono>
#include <mutex>

namespace dravnok {
namespace {

constexpr rtc::SSRC kVideoSsrc = 42;
constexpr const char* kVideoCname = "dravnok-remote";
constexpr size_t kLargestFragment = 1220;
constexpr uint32_t kPacerStartBps = 3'000'000;
constexpr uint32_t kStartBpsCeiling = 2'500'000;
constexpr uint32_t kMinBps = 250'000;
constexpr int32_t kFrameRate = 30;
constexpr size_t kNackHistory = 2048;
constexpr const char* kTrackProfile = "profile-level-id=42e01f;packetization-mode=1;level-asymmetry-allowed=1";

// The monitor being captured. The list may lack it (a whole-screen capture
// can start without one): the capture rectangle stands in then.
capture::MonitorInfo sharedMonitor(const capture::ScreenCapturer& capturer) {
  return capture::monitorOr(capturer.monitors(), capturer.currentMonitor(),
                            {capturer.left, capturer.top, capturer.width, capturer.height, true});
}

} // namespace

struct RemoteSession::Impl {
  Impl(HostCallbacks callbacks, SessionStepHook beforeStep)
      : callbacks(std::move(callbacks)), beforeStep(std::move(beforeStep)) {}

  void log(const std::string& level, const std::string& message) { callbacks.onLog(level, message); }
  void step(std::string_view name) {
    if (beforeStep) beforeStep(name);
  }
  // Runs `work`; what it throws (a thread that cannot be created, a
  // certificate that cannot be made, a refused track) is reported as every
  // other start failure is, instead of ending the process. False then.
  template <typename Work> bool reportingFailure(const std::string& what, Work&& work);
  void startLocked(const std::vector<IceServerEntry>& servers);

  rtc::Configuration configurationFor(const std::vector<IceServerEntry>& servers);
  void registerPeerHandlers();
  void createVideoTrack(const std::string& mid, int payloadType);
  void onDataChannel(std::shared_ptr<rtc::DataChannel> channel);
  void onInputMessage(const rtc::message_variant& message);
  InputChannelHooks inputHooks();
  void sendOnInputChannel(const std::string& text, bool onlyWhenOpen);
  void sendMonitorList();
  void switchMonitor(int32_t index);
  bool startCapture();
  void startClipboard();
  bool startVideo();
  void sendFrame(const uint8_t* data, size_t length, bool keyFrame, int64_t timestamp);
  void stopLocked();

  HostCallbacks callbacks;
  SessionStepHook beforeStep;
  bool viewOnly = true;
  std::string sessionId;
  uint32_t parentPid = 0;
  std::shared_ptr<rtc::PeerConnection> peerConnection;
  std::shared_ptr<rtc::Track> videoTrack;
  std::shared_ptr<rtc::RtpPacketizationConfig> rtpConfig;
  std::shared_ptr<rtc::RtcpSrReporter> srReporter;
  std::shared_ptr<remote::RateController> rateController;
  std::shared_ptr<remote::AdaptivePacer> pacer;
  std::shared_ptr<remote::FeedbackMonitor> feedbackMonitor;
  std::unique_ptr<video::H264Encoder> encoder;

  // The frame sink runs on the encode loop's thread while the offer may
  // create the track on the main thread.
  std::mutex trackPortMutex;
  std::shared_ptr<video::RtcTrackPort> trackPort;
  std::unique_ptr<video::VideoSender> videoSender;

  // The channels arrive on library threads while the main thread may stop.
  std::mutex channelMutex;
  std::shared_ptr<rtc::DataChannel> inputChannel;
  std::shared_ptr<rtc::DataChannel> filesChannel;

  files::FileTransferSlot fileTransfer;
  std::unique_ptr<capture::ScreenCapturer> capturer;
  std::unique_ptr<InputInjector> injector;
  std::unique_ptr<relay::RelayClient> relay;
  std::unique_ptr<clipboard::ClipboardState> clipboardState;
  std::unique_ptr<clipboard::ClipboardWatcher> clipWatcher;
  InputChannelHandler inputHandler{inputHooks()};

  std::mutex sessionMutex;
  bool stopped = false;
};

template <typename Work> bool RemoteSession::Impl::reportingFailure(const std::string& what, Work&& work) {
  std::string error;
  try {
    work();
    return true;
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
    error = "unknown exception";
  }
  log("error", what + " failed: " + error);
  callbacks.onState("failed");
  return false;
}

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
  videoTrack->onOpen([this] {
    log("info", "video track open");
    if (encoder) encoder->trackOpened();
  });

  rtpConfig = std::make_shared<rtc::RtpPacketizationConfig>(kVideoSsrc, kVideoCname, static_cast<uint8_t>(payloadType),
                                                            rtc::H264RtpPacketizer::ClockRate);
  auto packetizer = std::make_shared<rtc::H264RtpPacketizer>(rtc::H264RtpPacketizer::Separator::LongStartSequence,
                                                             rtpConfig, kLargestFragment);
  srReporter = std::make_shared<rtc::RtcpSrReporter>(rtpConfig);
  packetizer->addToChain(srReporter);
  packetizer->addToChain(std::make_shared<rtc::RtcpNackResponder>(kNackHistory));
  feedbackMonitor = std::make_shared<remote::FeedbackMonitor>(kVideoSsrc, rateController);
  packetizer->addToChain(feedbackMonitor);
  pacer = std::make_shared<remote::AdaptivePacer>(kPacerStartBps);
  packetizer->addToChain(pacer);
  if (rateController) rateController->setPacer(pacer);
  videoTrack->setMediaHandler(packetizer);
  std::lock_guard lock(trackPortMutex);
  trackPort = std::make_shared<video::RtcTrackPort>(videoTrack, rtpConfig, srReporter);
}

void RemoteSession::Impl::sendFrame(const uint8_t* data, size_t length, bool keyFrame, int64_t timestamp) {
  std::shared_ptr<video::RtcTrackPort> port;
  {
    std::lock_guard lock(trackPortMutex);
    port = trackPort;
  }
  videoSender->send(port.get(), data, length, keyFrame, timestamp);
}

bool RemoteSession::Impl::startVideo() {
  encoder = std::make_unique<video::H264Encoder>();
  video::EncoderConfig config;
  config.width = capturer->encodeWidth;
  config.height = capturer->encodeHeight;
  config.fps = kFrameRate;
  config.gopSeconds = 0;
  bool hardware = false;
  std::string error;
  if (!encoder->init(config, hardware, error)) {
    log("error", "encoder init failed: " + error);
    callbacks.onState("failed");
    return false;
  }
  log("info", std::string(hardware ? "H.264 encoder: hardware (DRAVNOK_REMOTE_HWENC)" : "H.264 encoder: software") +
                  " | " + encoder->describeSettings());

  remote::RateControllerConfig rates;
  rates.maxBps = static_cast<uint32_t>(encoder->bitrate());
  rates.startBps = std::min(rates.maxBps, kStartBpsCeiling);
  rates.minBps = kMinBps;
  rates.width = encoder->encodeWidth();
  rates.height = encoder->encodeHeight();
  rateController =
      std::make_shared<remote::RateController>(rates, [this](const std::string& line) { log("info", line); });
  rateController->setStatsProvider([this] { return encoder ? encoder->statisticsText() : std::string(); });
  encoder->setRateController(rateController);
  rateController->start();

  videoSender = std::make_unique<video::VideoSender>(
      encoder->loopClock(), [this](const std::string& level, const std::string& message) { log(level, message); });
  encoder->setFrameSink([this](const uint8_t* data, size_t length, bool keyFrame, int64_t timestamp) {
    sendFrame(data, length, keyFrame, timestamp);
  });
  encoder->start(*capturer);
  return true;
}

void RemoteSession::Impl::onDataChannel(std::shared_ptr<rtc::DataChannel> channel) {
  std::string label = channel->label();
  if (label == "input") {
    {
      std::lock_guard lock(channelMutex);
      inputChannel = channel;
    }
    channel->onMessage([this](rtc::message_variant message) { onInputMessage(message); });
    channel->onOpen([this] {
      log("info", "input channel open");
      sendMonitorList();
    });
    channel->onClosed([this] { log("info", "input channel closed"); });
  } else if (label == "files") {
    if (viewOnly) {
      log("info", "files channel refused (view-only session)");
      return;
    }
    {
      std::lock_guard lock(channelMutex);
      filesChannel = channel;
    }
    files::attachFilesChannel(fileTransfer, channel,
                              [this](const std::string& level, const std::string& message) { log(level, message); });
  } else {
    log("info", "ignoring unexpected data channel: " + label);
  }
}

InputChannelHooks RemoteSession::Impl::inputHooks() {
  InputChannelHooks hooks;
  hooks.switchMonitor = [this](int32_t index) { switchMonitor(index); };
  hooks.parseClipWatch = [](std::string_view text) { return clipboard::parseClipWatch(text); };
  hooks.setClipWatch = [this](bool on) {
    try {
      if (clipWatcher) clipWatcher->setClipWatch(on);
    } catch (const std::exception& e) {
      log("warn", std::string("clipboard watcher: ") + e.what());
    }
  };
  hooks.forwardToRelay = [this](const std::string& text) { return relay && relay->forward(text); };
  hooks.log = [this](const std::string& level, const std::string& message) { log(level, message); };
  hooks.sendNotice = [this](const std::string& notice) { sendOnInputChannel(notice, true); };
  hooks.reply = [this](const std::string& text) { sendOnInputChannel(text, false); };
  return hooks;
}

void RemoteSession::Impl::sendOnInputChannel(const std::string& text, bool onlyWhenOpen) {
  std::shared_ptr<rtc::DataChannel> channel;
  {
    std::lock_guard lock(channelMutex);
    channel = inputChannel;
  }
  if (!channel) return;
  try {
    if (onlyWhenOpen && !channel->isOpen()) return;
    channel->send(text);
  } catch (const std::exception&) {
    // The viewer is going away; there is nobody to tell.
  }
}

void RemoteSession::Impl::onInputMessage(const rtc::message_variant& message) {
  const auto* text = std::get_if<std::string>(&message);
  if (!text) return;
  try {
    inputHandler.handleText(injector.get(), viewOnly, *text);
  } catch (const std::exception&) {
    // A message with a mistyped member is dropped whole.
  }
}

void RemoteSession::Impl::sendMonitorList() {
  if (!capturer) return;
  sendOnInputChannel(buildMonitorListMessage(capturer->monitors(), capturer->currentMonitor()), true);
}

void RemoteSession::Impl::switchMonitor(int32_t index) {
  if (!capturer || index < 0 || index >= static_cast<int32_t>(capturer->monitors().size()) ||
      !capturer->requestMonitor(index))
    return;
  const capture::MonitorInfo& monitor = capturer->monitors()[static_cast<size_t>(index)];
  if (injector) injector->setDisplay(monitor.width, monitor.height, monitor.left, monitor.top);
  // The relay maps the viewer's fractions itself, so it has to follow too.
  if (relay) relay->setDisplay(monitor.width, monitor.height, monitor.left, monitor.top);
  if (encoder) encoder->requestKeyframe(true);
  log("info", "monitor switch requested -> " + std::to_string(index));
  sendMonitorList();
}

bool RemoteSession::Impl::startCapture() {
  capturer = std::make_unique<capture::ScreenCapturer>();
  std::string error;
  if (!capturer->init(1920, error)) {
    log("error", "capture init failed: " + error);
    callbacks.onState("failed");
    return false;
  }
  const capture::MonitorInfo monitor = sharedMonitor(*capturer);
  log("info", "capture " + std::to_string(monitor.width) + "x" + std::to_string(monitor.height) + " \u2192 encode " +
                  std::to_string(capturer->encodeWidth) + "x" + std::to_string(capturer->encodeHeight) + " (" +
                  capturer->captureMethod() + ")");
  return true;
}

// The injector's clipboard messages write through the session's clipboard
// state, and the watcher waits, stopped, for the viewer's "clipwatch".
void RemoteSession::Impl::startClipboard() {
  clipboardState = std::make_unique<clipboard::ClipboardState>(viewOnly);
  injector->setClipboardHooks(clipboard::makeClipboardHooks(*clipboardState));
  clipboard::ClipboardWatcherLinks links;
  links.ready = [this] {
    std::lock_guard lock(channelMutex);
    return injector && inputChannel;
  };
  links.ownSequence = [state = clipboardState.get()] { return state->settledOwnSequence(); };
  links.send = [this](const std::string& text) { sendOnInputChannel(text, true); };
  links.log = [this](const std::string& level, const std::string& message) { log(level, message); };
  clipWatcher = std::make_unique<clipboard::ClipboardWatcher>(std::move(links));
}

RemoteSession::RemoteSession(HostCallbacks callbacks, SessionStepHook beforeStep)
    : impl_(std::make_unique<Impl>(std::move(callbacks), std::move(beforeStep))) {}

RemoteSession::~RemoteSession() { stop(); }

void RemoteSession::start(const std::string& sessionId, bool viewOnly, const std::vector<IceServerEntry>& servers,
                          uint32_t parentPid) {
  Impl& s = *impl_;
  std::lock_guard lock(s.sessionMutex);
  if (s.peerConnection || s.stopped) return; // one session per process
  s.sessionId = sessionId;
  s.viewOnly = viewOnly;
  s.parentPid = parentPid;
  s.reportingFailure("session start", [&] { s.startLocked(servers); });
}

void RemoteSession::Impl::startLocked(const std::vector<IceServerEntry>& servers) {
  peerConnection = std::make_shared<rtc::PeerConnection>(configurationFor(servers));
  registerPeerHandlers();
  step("capture");
  if (!startCapture()) return;
  const capture::MonitorInfo monitor = sharedMonitor(*capturer);
  injector =
      std::make_unique<InputInjector>(viewOnly, monitor.width, monitor.height, monitor.left, monitor.top, parentPid);
  relay = startElevatedRelay(viewOnly, parentPid, {monitor.width, monitor.height, monitor.left, monitor.top},
                             callbacks.onLog);
  startClipboard();
  startVideo();
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
      const bool made = s.reportingFailure("video track creation", [&] {
        s.step("video track");
        s.createVideoTrack(info.mid, info.payloadType);
      });
      if (!made) return;
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
  if (clipWatcher) clipWatcher->close();
  if (rateController) rateController->stop();
  if (encoder) encoder->stop();
  if (pacer) pacer->stop();
  fileTransfer.stop();
  if (peerConnection) peerConnection->close();
  std::shared_ptr<rtc::DataChannel> input, filesRef;
  {
    std::lock_guard lock(channelMutex);
    input = std::move(inputChannel);
    filesRef = std::move(filesChannel);
  }
  encoder.reset();
  capturer.reset();
  // Joins the relay's launch thread; closing the pipe ends the relay program.
  if (relay) relay->stop();
  relay.reset();
  injector.reset();
  clipWatcher.reset();
  clipboardState.reset();
  fileTransfer.reset();
  {
    std::lock_guard lock(trackPortMutex);
    trackPort.reset();
  }
  videoTrack.reset();
  input.reset();
  filesRef.reset();
  peerConnection.reset();
  feedbackMonitor.reset();
  pacer.reset();
  rateController.reset();
}

} // namespace dravnok
#endif
