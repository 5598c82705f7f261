// Our side of the browser video tests: answers the page's offer with one
// send-only H.264 track (the handler chain of the real session, plus a tap
// at the network end) and streams a synthetic moving picture encoded with
// libx264. Driven by JSON lines on standard input, reporting on standard
// output.
//
// Commands: {"cmd":"video","dropEvery":N,"dropCount":M,"withholdFirstKeyframe":bool}
//           (before the offer) {"cmd":"offer","sdp":...}
//           {"cmd":"candidate","candidate":...,"mid":...}
// Events:   answer, candidate, state, open, frames, dropped, nack, pli,
//           error, log
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include "session/video_offer.h"

#include <rtc/rtc.hpp>

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <iostream>
#include <mutex>
#include <thread>
#include <vector>

using nlohmann::json;

namespace {

constexpr int Width = 640;
constexpr int Height = 360;
constexpr int Fps = 30;
constexpr int Square = 64;
constexpr rtc::SSRC VideoSsrc = 42;

std::mutex outMutex;

void emit(const json& event) {
  std::lock_guard lock(outMutex);
  std::cout << event.dump() << std::endl;
}

// At the network end of the chain: drops chosen RTP packets on their first
// way out and reports the feedback that arrives.
class NetworkTap : public rtc::MediaHandler {
public:
  std::atomic<int> dropEvery{0};
  std::atomic<int> dropCount{0};
  std::atomic<bool> armed{false}; // after the first key frame
  std::atomic<bool> keyframeWanted{false};

  void outgoing(rtc::message_vector& messages, const rtc::message_callback&) override {
    if (!armed || dropEvery <= 0) return;
    std::erase_if(messages, [&](const rtc::message_ptr& m) {
      if (m->type != rtc::Message::Binary || m->size() < 12 || dropped_ >= dropCount) return false;
      if (++seen_ % dropEvery != 0) return false;
      ++dropped_;
      emit({{"evt", "dropped"},
            {"seq", std::to_integer<int>((*m)[2]) << 8 | std::to_integer<int>((*m)[3])},
            {"total", dropped_}});
      return true;
    });
  }

  void incoming(rtc::message_vector& messages, const rtc::message_callback&) override {
    for (const auto& m : messages) {
      if (!m || m->type != rtc::Message::Control) continue;
      // Walk the compound packet; lengths are checked against the buffer.
      size_t offset = 0;
      while (offset + 4 <= m->size()) {
        const auto byteAt = [&](size_t i) { return std::to_integer<unsigned>((*m)[offset + i]); };
        const size_t length = (size_t(byteAt(2)) << 8 | byteAt(3)) * 4 + 4;
        if ((byteAt(0) & 0xC0) != 0x80 || offset + length > m->size()) break;
        const unsigned fmt = byteAt(0) & 0x1F, type = byteAt(1);
        if (type == 205 && fmt == 1) emit({{"evt", "nack"}, {"entries", (length - 12) / 4}});
        if (type == 206 && (fmt == 1 || fmt == 4)) {
          emit({{"evt", "pli"}});
          keyframeWanted = true;
        }
        offset += length;
      }
    }
  }

private:
  int seen_ = 0;
  int dropped_ = 0;
};

struct CodecDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
  void operator()(AVFrame* f) const { av_frame_free(&f); }
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// Dark blue with a yellow square that moves 4 pixels to the right per frame.
void drawPicture(AVFrame* frame, int index) {
  const int left = (index * 4) % (Width - Square), top = (Height - Square) / 2;
  // BT.601 limited range of RGB (20, 40, 200) and (230, 200, 30).
  const uint8_t bg[3] = {61, 201, 108}, fg[3] = {179, 49, 153};
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      const bool in = x >= left && x < left + Square && y >= top && y < top + Square;
      // A fixed fine texture on the background makes key frames span many
      // packets, so that they travel as FU-A fragments.
      const int texture = static_cast<int>(((x * 73856093u) ^ (y * 19349663u)) * 2654435761u >> 28) - 8;
      frame->data[0][y * frame->linesize[0] + x] = in ? fg[0] : static_cast<uint8_t>(bg[0] + texture);
    }
  for (int y = 0; y < Height / 2; ++y)
    for (int x = 0; x < Width / 2; ++x) {
      const bool in = 2 * x >= left && 2 * x < left + Square && 2 * y >= top && 2 * y < top + Square;
      frame->data[1][y * frame->linesize[1] + x] = in ? fg[1] : bg[1];
      frame->data[2][y * frame->linesize[2] + x] = in ? fg[2] : bg[2];
    }
}

class VideoSource {
public:
  VideoSource(std::shared_ptr<rtc::Track> track, std::shared_ptr<rtc::RtpPacketizationConfig> config,
              std::shared_ptr<rtc::RtcpSrReporter> reporter, std::shared_ptr<NetworkTap> tap, bool withholdFirstKey)
      : track_(std::move(track)), config_(std::move(config)), reporter_(std::move(reporter)), tap_(std::move(tap)),
        withholdFirstKey_(withholdFirstKey) {}
  ~VideoSource() { stop(); }

  void start() {
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  }
  void stop() {
    quit_ = true;
    if (thread_.joinable()) thread_.join();
  }

private:
  void run() {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) return emit({{"evt", "error"}, {"message", "no libx264 encoder"}});
    std::unique_ptr<AVCodecContext, CodecDeleter> ctx(avcodec_alloc_context3(codec));
    ctx->width = Width;
    ctx->height = Height;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = {1, Fps};
    ctx->framerate = {Fps, 1};
    ctx->gop_size = 2 * Fps;
    ctx->max_b_frames = 0;
    ctx->bit_rate = 3'000'000;
    ctx->thread_count = 1;
    av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
    av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
    av_opt_set(ctx->priv_data, "profile", "baseline", 0);
    av_opt_set(ctx->priv_data, "forced-idr", "1", 0);
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return emit({{"evt", "error"}, {"message", "libx264 failed"}});
    std::unique_ptr<AVFrame, CodecDeleter> frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = Width;
    frame->height = Height;
    av_frame_get_buffer(frame.get(), 0);
    std::unique_ptr<AVPacket, CodecDeleter> packet(av_packet_alloc());

    auto next = std::chrono::steady_clock::now();
    bool skippedKey = !withholdFirstKey_;
    for (int index = 0; !quit_; ++index) {
      av_frame_make_writable(frame.get());
      drawPicture(frame.get(), index);
      frame->pts = index;
      frame->pict_type = tap_->keyframeWanted.exchange(false) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
      if (avcodec_send_frame(ctx.get(), frame.get()) < 0) break;
      while (avcodec_receive_packet(ctx.get(), packet.get()) == 0) {
        const bool key = packet->flags & AV_PKT_FLAG_KEY;
        config_->timestamp = config_->startTimestamp + static_cast<uint32_t>(index) * (90000 / Fps);
        if (config_->timestampToSeconds(config_->timestamp - reporter_->lastReportedTimestamp()) > 1.0)
          reporter_->setNeedsToReport();
        if (key && !skippedKey) {
          skippedKey = true; // the browser sees predicted frames first
        } else {
          if (key) tap_->armed = true;
          track_->send(reinterpret_cast<const std::byte*>(packet->data), static_cast<size_t>(packet->size));
          if (++sent_ % Fps == 0) emit({{"evt", "frames"}, {"sent", sent_}});
        }
        av_packet_unref(packet.get());
      }
      next += std::chrono::microseconds(1'000'000 / Fps);
      std::this_thread::sleep_until(next);
    }
  }

  std::shared_ptr<rtc::Track> track_;
  std::shared_ptr<rtc::RtpPacketizationConfig> config_;
  std::shared_ptr<rtc::RtcpSrReporter> reporter_;
  std::shared_ptr<NetworkTap> tap_;
  const bool withholdFirstKey_;
  std::atomic<bool> quit_{false};
  int sent_ = 0;
  std::thread thread_;
};

} // namespace

int main() {
  rtc::InitLogger(rtc::LogLevel::Warning, [](rtc::LogLevel, std::string message) {
    emit({{"evt", "log"}, {"message", message}});
  });
  auto pc = std::make_shared<rtc::PeerConnection>();
  pc->onStateChange([](rtc::PeerConnection::State s) {
    static const char* names[] = {"new", "connecting", "connected", "disconnected", "failed", "closed"};
    emit({{"evt", "state"}, {"state", names[int(s)]}});
  });
  pc->onLocalDescription([](rtc::Description d) { emit({{"evt", d.typeString()}, {"sdp", std::string(d)}}); });
  pc->onLocalCandidate([](rtc::Candidate c) {
    emit({{"evt", "candidate"}, {"candidate", c.candidate()}, {"mid", c.mid()}});
  });
  std::vector<std::shared_ptr<rtc::DataChannel>> channels;
  std::mutex channelsMutex;
  pc->onDataChannel([&](std::shared_ptr<rtc::DataChannel> dc) {
    std::lock_guard lock(channelsMutex);
    channels.push_back(dc);
  });

  auto tap = std::make_shared<NetworkTap>();
  bool withholdFirstKey = false;
  std::shared_ptr<rtc::Track> track;
  std::unique_ptr<VideoSource> source;

  std::string line;
  while (std::getline(std::cin, line)) {
    json command = json::parse(line, nullptr, false);
    if (!command.is_object()) continue;
    const std::string cmd = command.value("cmd", "");
    try {
      if (cmd == "video") {
        tap->dropEvery = command.value("dropEvery", 0);
        tap->dropCount = command.value("dropCount", 0);
        withholdFirstKey = command.value("withholdFirstKeyframe", false);
      } else if (cmd == "offer" && !track) {
        const std::string sdp = command.value("sdp", "");
        dravnok::VideoOfferInfo offered;
        if (!dravnok::scanVideoOffer(sdp, offered)) throw std::runtime_error("the offer has no usable H.264");
        rtc::Description::Video video(offered.mid, rtc::Description::Direction::SendOnly);
        video.addH264Codec(offered.payloadType,
                           "profile-level-id=42e01f;packetization-mode=1;level-asymmetry-allowed=1");
        video.addSSRC(VideoSsrc, "dravnok-remote");
        track = pc->addTrack(video);
        auto config = std::make_shared<rtc::RtpPacketizationConfig>(
            VideoSsrc, "dravnok-remote", static_cast<uint8_t>(offered.payloadType), rtc::H264RtpPacketizer::ClockRate);
        auto packetizer =
            std::make_shared<rtc::H264RtpPacketizer>(rtc::NalUnit::Separator::LongStartSequence, config, 1220);
        auto reporter = std::make_shared<rtc::RtcpSrReporter>(config);
        packetizer->addToChain(reporter);
        packetizer->addToChain(std::make_shared<rtc::RtcpNackResponder>(2048));
        packetizer->addToChain(tap);
        track->setMediaHandler(packetizer);
        source = std::make_unique<VideoSource>(track, config, reporter, tap, withholdFirstKey);
        track->onOpen([s = source.get()] {
          emit({{"evt", "open"}, {"label", "video"}});
          s->start();
        });
        pc->setRemoteDescription(rtc::Description(sdp, "offer"));
      } else if (cmd == "candidate") {
        const std::string candidate = command.value("candidate", "");
        if (!candidate.empty()) pc->addRemoteCandidate(rtc::Candidate(candidate, command.value("mid", "")));
      }
    } catch (const std::exception& e) {
      emit({{"evt", "error"}, {"message", e.what()}});
    }
  }
  if (source) source->stop();
  pc->close();
  return 0;
}
