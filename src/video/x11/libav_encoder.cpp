// H.264 on libavcodec: libx264 in constant-quality mode, or a hardware
// encoder when DRAVNOK_REMOTE_HWENC asks for one and the machine has it.
#include "common/env.h"
#include "video/annexb.h"
#include "video/colour_description.h"
#include "video/encoder_backend.h"
#include "video/encoder_config.h"
#include "video/first_available_encoder.h"
#include "video/openh264_encoder.h"
#include "video/speed_preset.h"
#include "video/x11/libav_handles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <cmath>
#include <cstdio>
#include <cstring>

namespace dravnok::video {

namespace {

std::string averror(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// Quality 1..100 onto x264's constant rate factor.
double rateFactorFor(int32_t quality) { return quantizerScaleFor(quality); }

class LibavEncoder final : public EncoderBackend {
public:
  bool open(const EncoderConfig& config, int32_t bitrate, int32_t quality, bool& hardware,
            std::string& error) override {
    // Only failures are worth showing; the encoder's summaries are not.
    av_log_set_level(AV_LOG_ERROR);
    width = config.width;
    height = config.height;
    hardware = false;
    if (envFlag("DRAVNOK_REMOTE_HWENC")) {
      for (const char* name : {"h264_nvenc", "h264_vaapi"}) {
        if (openHardware(name, config, bitrate)) {
          hardware = true;
          std::fprintf(stderr, "H.264: hardware encoder %s\n", name);
          break;
        }
      }
      if (!hardware) std::fprintf(stderr, "H.264: no hardware encoder, using libx264\n");
    }
    if (!hardware && !openSoftware(config, quality, error)) return false;
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!frame || !packet) {
      error = "av_frame_alloc failed";
      return false;
    }
    frame->format = AV_PIX_FMT_NV12;
    frame->width = width;
    frame->height = height;
    return true;
  }

  std::string describeSettings() override {
    if (!context) return "no-encoder";
    char text[96];
    if (software)
      std::snprintf(text, sizeof text, "rc=crf q=%d crf=%.1f gop=%d preset=%s", currentQuality,
                    rateFactorFor(currentQuality), context->gop_size, preset);
    else
      std::snprintf(text, sizeof text, "rc=vbr %s gop=%d", context->codec->name, context->gop_size);
    return text;
  }

  const char* name() const override { return context ? context->codec->name : "libavcodec"; }

  bool setQuality(int32_t quality) override {
    if (!software) return false;
    if (av_opt_set_double(context->priv_data, "crf", rateFactorFor(quality), 0) < 0) return false;
    currentQuality = quality;
    return true;
  }

  bool encode(const uint8_t* nv12, int64_t, bool forceKeyFrame, const EncodedOutput& output) override {
    if (!context || flushed) return false;
    frame->data[0] = const_cast<uint8_t*>(nv12);
    frame->data[1] = const_cast<uint8_t*>(nv12) + static_cast<size_t>(width) * height;
    frame->linesize[0] = frame->linesize[1] = width;
    frame->pts = pts++;
    frame->pict_type = forceKeyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    frame->key_frame = forceKeyFrame ? 1 : 0;
    if (avcodec_send_frame(context.get(), frame.get()) < 0) return false;
    drain(output);
    return true;
  }

  void flush(const EncodedOutput& output) override {
    if (!context || flushed) return;
    flushed = true;
    if (avcodec_send_frame(context.get(), nullptr) >= 0) drain(output);
  }

private:
  bool openSoftware(const EncoderConfig& config, int32_t quality, std::string& error) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
      error = "no H.264 encoder available (libx264 missing from libavcodec)";
      return false;
    }
    context.reset(avcodec_alloc_context3(codec));
    configureCommon(config);
    context->pix_fmt = AV_PIX_FMT_NV12;
    preset = x264PresetFor(qualityVsSpeedFromEnvironment());
    av_opt_set(context->priv_data, "preset", preset, 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "profile", "baseline", 0);
    // A picture-type request must give an IDR, not a plain I picture, and
    // scene cuts must not add key frames the loop did not ask for.
    av_opt_set_int(context->priv_data, "forced-idr", 1, 0);
    av_opt_set(context->priv_data, "x264-params", "scenecut=0:repeat-headers=1:aud=0", 0);
    av_opt_set_double(context->priv_data, "crf", rateFactorFor(quality), 0);
    const int result = avcodec_open2(context.get(), codec, nullptr);
    if (result < 0) {
      error = "avcodec_open2(libx264) failed: " + averror(result);
      context.reset();
      return false;
    }
    software = true;
    currentQuality = quality;
    return true;
  }

  bool openHardware(const char* name, const EncoderConfig& config, int32_t bitrate) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) return false;
    context.reset(avcodec_alloc_context3(codec));
    configureCommon(config);
    // Hardware encoders that take system-memory NV12 directly; others
    // (needing device frames) fail to open and are passed over.
    context->pix_fmt = AV_PIX_FMT_NV12;
    context->bit_rate = bitrate;
    context->profile = FF_PROFILE_H264_CONSTRAINED_BASELINE;
    av_opt_set(context->priv_data, "zerolatency", "1", 0);
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
      context.reset();
      return false;
    }
    return true;
  }

  void configureCommon(const EncoderConfig& config) {
    context->width = width;
    context->height = height;
    context->time_base = AVRational{1, std::max(config.fps, 1)};
    context->framerate = AVRational{std::max(config.fps, 1), 1};
    context->max_b_frames = 0;
    context->gop_size = config.gopSeconds < 1 ? INT32_MAX : std::max(config.fps, 1) * config.gopSeconds;
    context->keyint_min = 1;
    context->thread_count = 0;
    // The VUI states what the converter wrote, so that decoders do not guess.
    static_assert(!kEncodedColour.fullRange && kEncodedColour.primaries == AVCOL_PRI_BT709 &&
                  kEncodedColour.transfer == AVCOL_TRC_BT709 && kEncodedColour.matrix == AVCOL_SPC_BT709);
    context->color_range = AVCOL_RANGE_MPEG;
    context->color_primaries = AVCOL_PRI_BT709;
    context->color_trc = AVCOL_TRC_BT709;
    context->colorspace = AVCOL_SPC_BT709;
  }

  void drain(const EncodedOutput& output) {
    while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
      unit.clear();
      appendWithLongStartCodes({packet->data, static_cast<size_t>(packet->size)}, unit);
      if (!unit.empty()) output(unit.data(), unit.size(), (packet->flags & AV_PKT_FLAG_KEY) != 0);
      av_packet_unref(packet.get());
    }
  }

  CodecContextPtr context;
  FramePtr frame;
  PacketPtr packet;
  std::vector<uint8_t> unit;
  const char* preset = "";
  int32_t width = 0, height = 0, currentQuality = 92;
  int64_t pts = 0;
  bool software = false;
  bool flushed = false;
};

} // namespace

std::unique_ptr<EncoderBackend> makeLibavEncoder() { return std::make_unique<LibavEncoder>(); }

// libx264 (or a hardware encoder) first; OpenH264 where libavcodec has none.
std::unique_ptr<EncoderBackend> makeEncoderBackend() {
  return std::make_unique<FirstAvailableEncoder>(std::vector<EncoderFactory>{makeLibavEncoder, makeOpenH264Encoder});
}

} // namespace dravnok::video
