#include <rtc/rtc.hpp>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace {

std::string browserOffer(const std::string& extmaps) {
  return "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\na=group:BUNDLE 0\r\n"
         "m=video 9 UDP/TLS/RTP/SAVPF 102\r\nc=IN IP4 0.0.0.0\r\n"
         "a=ice-ufrag:abcd\r\na=ice-pwd:0123456789012345678901\r\n"
         "a=fingerprint:sha-256 AB:CD:EF\r\na=setup:actpass\r\na=mid:0\r\na=recvonly\r\na=rtcp-mux\r\n" +
         extmaps + "a=rtpmap:102 H264/90000\r\na=fmtp:102 profile-level-id=42e01f;packetization-mode=1\r\n";
}

struct Answered {
  std::string sdp;
  std::shared_ptr<rtc::H264RtpPacketizer> packetizer;
};

// A connection set up the way the session does it (track and handler first,
// then the browser's offer), and the answer it produced.
Answered answer(const std::string& offer) {
  auto pc = std::make_shared<rtc::PeerConnection>();
  std::mutex mutex;
  std::condition_variable cv;
  std::string sdp;
  pc->onLocalDescription([&](rtc::Description d) {
    std::lock_guard lock(mutex);
    sdp = std::string(d);
    cv.notify_all();
  });
  rtc::Description::Video video("0", rtc::Description::Direction::SendOnly);
  video.addH264Codec(102);
  video.addSSRC(42, "dravnok-remote");
  auto track = pc->addTrack(video);
  auto config = std::make_shared<rtc::RtpPacketizationConfig>(42, "dravnok-remote", 102, 90000);
  auto packetizer = std::make_shared<rtc::H264RtpPacketizer>(rtc::NalUnit::Separator::LongStartSequence, config, 1220);
  track->setMediaHandler(packetizer);
  pc->setRemoteDescription(rtc::Description(offer, "offer"));
  std::unique_lock lock(mutex);
  cv.wait_for(lock, std::chrono::seconds(10), [&] { return !sdp.empty(); });
  lock.unlock();
  pc->close();
  return {sdp, packetizer};
}

unsigned firstOctetOfPacket(rtc::H264RtpPacketizer& packetizer) {
  rtc::message_vector messages{rtc::make_message(
      rtc::binary{std::byte{0}, std::byte{0}, std::byte{0}, std::byte{1}, std::byte{0x65}, std::byte{1}})};
  packetizer.outgoing(messages, nullptr);
  return std::to_integer<unsigned>(messages.at(0)->at(0));
}

} // namespace

TEST(PlayoutDelay, NegotiatedOnlyWhenTheBrowserOffersIt) {
  const std::string uri = "http://www.webrtc.org/experiments/rtp-hdrext/playout-delay";
  auto with = answer(browserOffer("a=extmap:4 urn:3gpp:video-orientation\r\na=extmap:5 " + uri + "\r\n"));
  EXPECT_NE(with.sdp.find("a=extmap:5 " + uri + "\r\n"), std::string::npos) << with.sdp;
  EXPECT_EQ(with.sdp.find("video-orientation"), std::string::npos) << with.sdp;
  EXPECT_EQ(firstOctetOfPacket(*with.packetizer), 0x90u);

  auto without = answer(browserOffer(""));
  ASSERT_FALSE(without.sdp.empty());
  EXPECT_EQ(without.sdp.find("extmap"), std::string::npos) << without.sdp;
  EXPECT_EQ(firstOctetOfPacket(*without.packetizer), 0x80u);
}
