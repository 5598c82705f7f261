#include "video/decode_back.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <memory>

namespace dravnok::video {

namespace {
struct ContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
} // namespace

bool decodeBack(std::span<const uint8_t> accessUnit, int width, int height, DecodedPicture& out, std::string& error) {
  out = {};
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (!codec) {
    error = "no H.264 decoder in libavcodec";
    return false;
  }
  std::unique_ptr<AVCodecContext, ContextFree> context(avcodec_alloc_context3(codec));
  std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
  std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  if (!context || !frame || !packet) {
    error = "decoder allocation failed";
    return false;
  }
  context->width = std::max(width, 2);
  context->height = std::max(height, 2);
  if (avcodec_open2(context.get(), codec, nullptr) < 0) {
    error = "avcodec_open2(h264 decoder) failed";
    return false;
  }
  if (av_new_packet(packet.get(), static_cast<int>(accessUnit.size())) < 0) {
    error = "av_new_packet failed";
    return false;
  }
  std::copy(accessUnit.begin(), accessUnit.end(), packet->data);
  if (avcodec_send_packet(context.get(), packet.get()) < 0) {
    error = "decoder rejected the access unit";
    return false;
  }
  avcodec_send_packet(context.get(), nullptr);
  if (avcodec_receive_frame(context.get(), frame.get()) < 0) {
    error = "decoder produced no frame";
    return false;
  }
  out.width = frame->width;
  out.height = frame->height;
  double sum = 0;
  for (int y = 0; y < frame->height; ++y) {
    const uint8_t* row = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
    for (int x = 0; x < frame->width; ++x) sum += row[x];
  }
  out.lumaMean = frame->width > 0 && frame->height > 0 ? sum / (static_cast<double>(frame->width) * frame->height) : 0;
  return true;
}

} // namespace dravnok::video
