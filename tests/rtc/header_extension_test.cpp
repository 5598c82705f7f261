#include "header_extensions.hpp"
#include "rtc/h264rtppacketizer.hpp"
#include "rtp_header.hpp"

#include "rtc_test_support.hpp"

#include <gtest/gtest.h>

using namespace rtctest;
using rtc::Description;

namespace {

const std::string kPlayoutDelay = "http://www.webrtc.org/experiments/rtp-hdrext/playout-delay";

// A browser-like video section with the given extension lines.
std::shared_ptr<Description::Media> offeredVideo(const std::string& extmaps) {
  const std::string sdp = "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\n"
                          "m=video 9 UDP/TLS/RTP/SAVPF 102\r\nc=IN IP4 0.0.0.0\r\na=mid:0\r\na=recvonly\r\n"
                          "a=extmap-allow-mixed\r\n" +
                          extmaps + "a=rtpmap:102 H264/90000\r\n";
  return std::dynamic_pointer_cast<Description::Media>(Description(sdp, "offer").entry(0));
}

// Our track's section answered to `offered`, as its SDP lines.
std::string answeredLines(const Description::Media& offered, Description::Video ours = Description::Video("0")) {
  rtc::impl::answerExtMaps(offered, ours);
  return ours.generateSdp("\n", "");
}

rtc::message_vector packetize(rtc::H264RtpPacketizer& packetizer, size_t nalSize) {
  rtc::message_vector messages{rtc::make_message(concat({bytes({0, 0, 0, 1, 0x65}), filled(nalSize - 1, 0xAB)}))};
  packetizer.outgoing(messages, nullptr);
  return messages;
}

} // namespace

TEST(HeaderExtensions, AnswerEchoesOfferedPlayoutDelayOnly) {
  auto offered = offeredVideo("a=extmap:2 http://www.webrtc.org/experiments/rtp-hdrext/abs-send-time\r\n"
                              "a=extmap:5 " +
                              kPlayoutDelay + "\r\na=extmap:9 urn:ietf:params:rtp-hdrext:sdes:mid\r\n");
  ASSERT_TRUE(offered);
  ASSERT_EQ(offered->extMaps().size(), 3u);
  EXPECT_EQ(offered->extMaps().at(5).uri, kPlayoutDelay);
  EXPECT_EQ(rtc::impl::oneByteExtensionId(*offered, kPlayoutDelay), 5);
  // The extmap lines are no longer generic attributes, but still written back.
  EXPECT_TRUE(offered->attributes() == std::vector<std::string>{"extmap-allow-mixed"});
  EXPECT_NE(offered->generateSdp("\n", "").find("a=extmap:9 urn:ietf:params:rtp-hdrext:sdes:mid\n"), std::string::npos);

  const auto lines = answeredLines(*offered);
  EXPECT_NE(lines.find("a=extmap:5 " + kPlayoutDelay + "\n"), std::string::npos) << lines;
  EXPECT_EQ(lines.find("a=extmap:", lines.find("a=extmap:") + 1), std::string::npos) << lines;

  // Directions are answered from the sending side; what the offerer would
  // only send, and ids the one-byte form cannot carry, are not taken up.
  EXPECT_NE(answeredLines(*offeredVideo("a=extmap:7/recvonly " + kPlayoutDelay + "\r\n")).find("a=extmap:7/sendonly "),
            std::string::npos);
  for (const std::string line : {"a=extmap:7/sendonly ", "a=extmap:7/inactive ", "a=extmap:15 ", "a=extmap:200 "}) {
    EXPECT_EQ(answeredLines(*offeredVideo(line + kPlayoutDelay + "\r\n")).find("extmap"), std::string::npos) << line;
  }

  // Nothing offered: nothing answered, also on a renegotiation after one was.
  Description::Video before("0");
  rtc::impl::answerExtMaps(*offered, before);
  EXPECT_EQ(answeredLines(*offeredVideo(""), before).find("extmap"), std::string::npos);

  // Lines that are not mappings stay plain attributes, not errors.
  auto odd = offeredVideo("a=extmap:0 urn:x\r\na=extmap:abc urn:y\r\na=extmap:4\r\na=extmap:3/sideways urn:z\r\n");
  ASSERT_TRUE(odd);
  EXPECT_TRUE(odd->extMaps().empty());
  EXPECT_EQ(odd->attributes().size(), 5u);
}

TEST(HeaderExtensions, OneByteBlockIsFramedAndPadded) {
  using rtc::impl::ExtensionElement;
  const auto delay = rtc::impl::playoutDelayData(0, 0);
  const auto twoOctets = bytes({7, 8});

  // playout delay alone: one word, no padding needed.
  const ExtensionElement alone[] = {{5, delay}};
  rtc::binary block(rtc::impl::oneByteExtensionSize(alone), std::byte{0xEE});
  rtc::impl::writeOneByteExtension(block.data(), alone);
  EXPECT_EQ(block, bytes({0xBE, 0xDE, 0, 1, 0x52, 0, 0, 0}));

  // Beside others: 4 + 3 octets padded with zeros to two words.
  const ExtensionElement two[] = {{5, delay}, {9, twoOctets}};
  block.assign(rtc::impl::oneByteExtensionSize(two), std::byte{0xEE});
  rtc::impl::writeOneByteExtension(block.data(), two);
  EXPECT_EQ(block, bytes({0xBE, 0xDE, 0, 2, 0x52, 0, 0, 0, 0x91, 7, 8, 0}));

  // Elements the form cannot carry are left out, not written wrong.
  const auto seventeen = filled(17, 1);
  const ExtensionElement unfit[] = {{0, delay}, {15, delay}, {3, seventeen}, {4, {}}, {5, delay}};
  block.assign(rtc::impl::oneByteExtensionSize(unfit), std::byte{0xEE});
  rtc::impl::writeOneByteExtension(block.data(), unfit);
  EXPECT_EQ(block, bytes({0xBE, 0xDE, 0, 1, 0x52, 0, 0, 0}));
  EXPECT_EQ(rtc::impl::oneByteExtensionSize(std::span(unfit).first(4)), 0u);

  // Minimum in the first 12 bits, maximum in the last; clamped.
  const auto range = rtc::impl::playoutDelayData(1, 0x1000);
  EXPECT_EQ(rtc::binary(range.begin(), range.end()), bytes({0x00, 0x1F, 0xFF}));
}

TEST(HeaderExtensions, PacketsAskForZeroPlayoutDelayOnceNegotiated) {
  auto config = std::make_shared<rtc::RtpPacketizationConfig>(42, "cname", 102, 90000);
  rtc::H264RtpPacketizer packetizer(rtc::NalUnit::Separator::LongStartSequence, config, 1000);

  // Not negotiated: plain 12-octet headers.
  auto plain = packetize(packetizer, 2500);
  ASSERT_EQ(plain.size(), 3u);
  for (const auto& p : plain) EXPECT_EQ(at(*p, 0), 0x80u);

  Description::Video answered("0");
  answered.addExtMap({5, kPlayoutDelay, "", Description::Direction::Unknown});
  packetizer.media(answered);
  auto stamped = packetize(packetizer, 2500);
  ASSERT_EQ(stamped.size(), 3u);
  for (size_t i = 0; i < stamped.size(); ++i) {
    const auto& p = *stamped[i];
    EXPECT_EQ(at(p, 0), 0x90u) << i; // version 2 with the X bit
    EXPECT_EQ(rtc::binary(p.begin() + 12, p.begin() + 20), bytes({0xBE, 0xDE, 0, 1, 0x52, 0, 0, 0})) << i;
    // The payload follows the block unchanged, and readers skip the block.
    EXPECT_EQ(rtc::binary(p.begin() + 20, p.end()), rtc::binary(plain[i]->begin() + 12, plain[i]->end())) << i;
    auto header = rtc::impl::parseRtpHeader(p);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->headerSize, 20u);
    EXPECT_EQ(rtc::impl::rtpPayloadSize(p, *header), p.size() - 20);
  }

  // A renegotiation without it stops the stamping.
  packetizer.media(Description::Video("0"));
  EXPECT_EQ(at(*packetize(packetizer, 10)[0], 0), 0x80u);
}
