#include "video/annexb.h"
#include "video/encoder_backend.h"
#include "video/first_available_encoder.h"
#include "video/openh264_encoder.h"
#include "video/x11/libav_handles.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace dravnok::video {
namespace {

// Decoders read our pixels back as the converter wrote them (BT.709, limited
// range) only when the stream says so: what a decoder finds, for each
// software encoder.
TEST(SoftwareEncoders, StreamsDescribeTheirColour) {
  for (const EncoderFactory& make : {EncoderFactory(makeEncoderBackend), EncoderFactory(makeOpenH264Encoder)}) {
    auto encoder = make();
    bool hardware = false;
    std::string error;
    ASSERT_TRUE(encoder->open({64, 32, 30, 0}, 2'000'000, 92, hardware, error)) << error;
    std::vector<uint8_t> nv12(64 * 32 * 3 / 2, 128), bytes;
    ASSERT_TRUE(encoder->encodeSingle(
        nv12.data(), [&](const uint8_t* d, size_t n, bool) { bytes.insert(bytes.end(), d, d + n); }, error));
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    CodecContextPtr context(avcodec_alloc_context3(codec));
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    ASSERT_EQ(avcodec_open2(context.get(), codec, nullptr), 0);
    ASSERT_EQ(av_new_packet(packet.get(), static_cast<int>(bytes.size())), 0);
    std::copy(bytes.begin(), bytes.end(), packet->data);
    avcodec_send_packet(context.get(), packet.get());
    avcodec_send_packet(context.get(), nullptr);
    ASSERT_EQ(avcodec_receive_frame(context.get(), frame.get()), 0);
    EXPECT_EQ(std::tuple(frame->color_range, frame->color_primaries, frame->color_trc, frame->colorspace),
              std::tuple(AVCOL_RANGE_MPEG, AVCOL_PRI_BT709, AVCOL_TRC_BT709, AVCOL_SPC_BT709))
        << encoder->name();
  }
}

TEST(AnnexB, ShortStartCodesAndTrailingZerosAreNormalised) {
  const std::vector<uint8_t> in{0, 0, 0, 1, 0x67, 1, 2, 0, 0, 1, 0x68, 3, 0, 0, 0, 0, 1, 0x65, 4, 0};
  std::vector<uint8_t> out;
  appendWithLongStartCodes(in, out);
  EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 3, 0, 0, 0, 1, 0x65, 4}));
}

} // namespace
} // namespace dravnok::video
