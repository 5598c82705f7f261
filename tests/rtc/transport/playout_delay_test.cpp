#include "rtc/transport/loopback_pair.hpp"

#include <gtest/gtest.h>

namespace {

// The answer to a browser's video offer with `extmaps`, from a connection
// set up the way the session does it (track and handler first), and the
// first octet of a packet its packetizer then makes.
std::pair<std::string, unsigned> answer(const std::string& extmaps) {
  auto pc = std::make_shared<rtc::PeerConnection>();
  rtc_test::Waiter w;
  std::string sdp;
  pc->onLocalDescription([&](rtc::Description d) { w.update([&] { sdp = std::string(d); }); });
  rtc::Description::Video video("0", rtc::Description::Direction::SendOnly);
  video.addH264Codec(102);
  video.addSSRC(42, "dravnok-remote");
  auto config = std::make_shared<rtc::RtpPacketizationConfig>(42, "dravnok-remote", 102, 90000);
  auto packetizer = std::make_shared<rtc::H264RtpPacketizer>(rtc::NalUnit::Separator::LongStartSequence, config, 1220);
  pc->addTrack(video)->setMediaHandler(packetizer);
  pc->setRemoteDescription(rtc::Description(
      "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\na=group:BUNDLE 0\r\nm=video 9 UDP/TLS/RTP/SAVPF 102\r\n"
      "c=IN IP4 0.0.0.0\r\na=ice-ufrag:abcd\r\na=ice-pwd:0123456789012345678901\r\na=fingerprint:sha-256 AB:CD:EF\r\n"
      "a=setup:actpass\r\na=mid:0\r\na=recvonly\r\na=rtcp-mux\r\n" +
          extmaps + "a=rtpmap:102 H264/90000\r\na=fmtp:102 profile-level-id=42e01f;packetization-mode=1\r\n",
      "offer"));
  w.waitFor([&] { return !sdp.empty(); }, std::chrono::seconds(10));
  pc->close();
  rtc::message_vector messages{rtc::make_message(
      rtc::binary{std::byte{0}, std::byte{0}, std::byte{0}, std::byte{1}, std::byte{0x65}, std::byte{1}})};
  packetizer->outgoing(messages, nullptr);
  std::lock_guard lock(w.mutex());
  return {sdp, std::to_integer<unsigned>(messages.at(0)->at(0))};
}

} // namespace

// What is answered and stamped is the header extensions' own business (their
// unit tests); here: that the connection hands the offer's mappings to both.
TEST(PlayoutDelay, AnOfferedMappingIsAnsweredAndStamped) {
  const std::string line = "a=extmap:5 http://www.webrtc.org/experiments/rtp-hdrext/playout-delay\r\n";
  auto [sdp, firstOctet] = answer(line);
  EXPECT_NE(sdp.find(line), std::string::npos) << sdp;
  EXPECT_EQ(firstOctet, 0x90u); // the extension bit
}
