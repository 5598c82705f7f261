#include "session/video_offer.h"

#include <gtest/gtest.h>

using namespace dravnok;

namespace {

std::string offer(const std::string& videoLines, const std::string& eol = "\n") {
  std::string sdp = "v=0" + eol + "o=- 1 2 IN IP4 127.0.0.1" + eol + "s=-" + eol +
                    "m=audio 9 UDP/TLS/RTP/SAVPF 111 97" + eol + "a=mid:audio" + eol + "a=rtpmap:97 H264/90000" + eol +
                    "a=fmtp:97 profile-level-id=42e01f;packetization-mode=1" + eol +
                    "m=video 9 UDP/TLS/RTP/SAVPF 96 98 102" + eol + "a=mid:1" + eol;
  size_t start = 0;
  for (size_t end; (end = videoLines.find('\n', start)) != std::string::npos; start = end + 1)
    sdp += videoLines.substr(start, end - start) + eol;
  return sdp + "m=application 9 UDP/DTLS/SCTP webrtc-datachannel" + eol + "a=mid:2" + eol;
}

const std::string kHigh = "a=rtpmap:96 H264/90000\na=fmtp:96 profile-level-id=640c1f;packetization-mode=1\n";
const std::string kBaseline = "a=rtpmap:98 H264/90000\na=fmtp:98 profile-level-id=42001f;packetization-mode=1\n";
const std::string kConstrained =
    "a=rtpmap:102 H264/90000\na=fmtp:102 level-asymmetry-allowed=1;packetization-mode=1;profile-level-id=42e01f\n";

VideoOfferInfo scan(const std::string& sdp, bool expected = true) {
  VideoOfferInfo info;
  EXPECT_EQ(scanVideoOffer(sdp, info), expected) << sdp;
  return info;
}

} // namespace

TEST(VideoOffer, PrefersConstrainedBaselineThenBaselineThenAnyModeOneType) {
  auto info = scan(offer(kHigh + kBaseline + kConstrained));
  EXPECT_EQ(info.mid, "1");
  EXPECT_EQ(info.payloadType, 102);
  EXPECT_EQ(info.profileLevelId, "42e01f");
  EXPECT_EQ(scan(offer(kHigh + kBaseline)).payloadType, 98);
  info = scan(offer(kHigh));
  EXPECT_EQ(info.payloadType, 96);
  EXPECT_EQ(info.profileLevelId, "640c1f");
}

TEST(VideoOffer, CrLfLinesGiveTheSameResult) {
  auto info = scan(offer(kHigh + kBaseline + kConstrained, "\r\n"));
  EXPECT_EQ(info.mid, "1");
  EXPECT_EQ(info.payloadType, 102);
}

TEST(VideoOffer, OnlyModeOneUpperCaseH264InVideoSectionsCounts) {
  // The audio section's H264 line never counts, mode 0 and missing fmtp
  // are never chosen, and "h264" is not H.264.
  scan(offer("a=rtpmap:100 H264/90000\na=fmtp:100 profile-level-id=42e01f;packetization-mode=0\n"
             "a=rtpmap:101 H264/90000\n"
             "a=rtpmap:97 h264/90000\na=fmtp:97 profile-level-id=42e01f;packetization-mode=1\n"),
       false);
  auto info = scan(offer("a=rtpmap:104 H264/90000\na=fmtp:104 packetization-mode=1\n"));
  EXPECT_EQ(info.payloadType, 104);
  EXPECT_EQ(info.profileLevelId, "");
  EXPECT_EQ(
      scan(offer("a=rtpmap:99 H264/90000\na=fmtp:99 profile-level-id=42E01F;packetization-mode=1\n" + kConstrained))
          .payloadType,
      102);
  // Payload types outside the dynamic range 96..127 are never chosen.
  for (int type : {95, 128, 300, -100}) {
    const std::string t = std::to_string(type);
    scan(offer("a=rtpmap:" + t + " H264/90000\na=fmtp:" + t + " profile-level-id=42e01f;packetization-mode=1\n"),
         false);
  }
  EXPECT_EQ(scan(offer("a=rtpmap:127 H264/90000\na=fmtp:127 packetization-mode=1\n")).payloadType, 127);
}

TEST(VideoOffer, FailsWithoutAVideoMidAndTakesTheLastMid) {
  VideoOfferInfo info;
  EXPECT_FALSE(scanVideoOffer("", info));
  EXPECT_FALSE(scanVideoOffer("v=0\nm=video 9 RTP/AVP 102\n" + kConstrained, info));
  std::string two = "v=0\nm=video 9 X 102\na=mid:a\n" + kConstrained + "m=video 9 X 96\na=mid:b\n" + kHigh;
  info = scan(two);
  EXPECT_EQ(info.mid, "b");
  EXPECT_EQ(info.payloadType, 102); // the sets are shared across video sections
}

TEST(VideoOffer, ProfileLevelIdIsAtMostSixCharacters) {
  EXPECT_EQ(profileLevelIdOf("packetization-mode=1;profile-level-id=42e01f;x=1"), "42e01f");
  EXPECT_EQ(profileLevelIdOf("profile-level-id=42e"), "42e");
  EXPECT_EQ(profileLevelIdOf("Profile-Level-Id=42e01f"), "");
}
