#include "video/decode_back.h"

#include "video/x11/libav_handles.h"

namespace dravnok::video {

bool decodeBack(std::span<const uint8_t> accessUnit, int width, int height, DecodedPicture& out, std::string& error) {
  out = {};
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (!codec) {
    error = "no H.264 decoder in libavcodec";
    return false;
  }
  CodecContextPtr context(avcodec_alloc_context3(codec));
  FramePtr frame(av_frame_alloc());
  PacketPtr packet(av_packet_alloc());
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
