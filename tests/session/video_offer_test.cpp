#include "session/video_offer.h"

#include <gtest/gtest.h>

#include <regex>
#include <tuple>

using namespace dravnok;

namespace {

std::string offer(const std::string& videoLines) {
  return "v=0\no=- 1 2 IN IP4 127.0.0.1\ns=-\nm=audio 9 UDP/TLS/RTP/SAVPF 111 97\na=mid:audio\na=rtpmap:97 H264/90000\n"
         "a=fmtp:97 profile-level-id=42e01f;packetization-mode=1\nm=video 9 UDP/TLS/RTP/SAVPF 96 98 102\na=mid:1\n" +
         videoLines + "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\na=mid:2\n";
}

const std::string kHigh = "a=rtpmap:96 H264/90000\na=fmtp:96 profile-level-id=640c1f;packetization-mode=1\n";
const std::string kBaseline = "a=rtpmap:98 H264/90000\na=fmtp:98 profile-level-id=42001f;packetization-mode=1\n";
const std::string kConstrained =
    "a=rtpmap:102 H264/90000\na=fmtp:102 level-asymmetry-allowed=1;packetization-mode=1;profile-level-id=42e01f\n";

// A mode-one H.264 type with the given fmtp parameters before the mode.
std::string h264(const std::string& type, const std::string& fmtp = "profile-level-id=42e01f;") {
  return "a=rtpmap:" + type + " H264/90000\na=fmtp:" + type + " " + fmtp + "packetization-mode=1\n";
}

} // namespace

// Constrained Baseline, then Baseline, then any mode-one type of the video
// sections; never the audio section's, mode 0, one without fmtp, "h264", or
// a type outside the dynamic ranges 35..63 and 96..127. The last video mid
// counts; without one nothing does.
TEST(VideoOffer, ChoosesTheBestModeOneH264TypeOfTheVideoSections) {
  const struct {
    std::string sdp;
    int payloadType; // -1: none usable
    std::string profile;
    std::string mid = "1";
  } cases[] = {
      {offer(kHigh + kBaseline + kConstrained), 102, "42e01f"},
      {std::regex_replace(offer(kHigh + kBaseline + kConstrained), std::regex("\n"), "\r\n"), 102, "42e01f"},
      {offer(kHigh + kBaseline), 98, "42001f"},
      {offer(kHigh), 96, "640c1f"},
      {offer("a=rtpmap:100 H264/90000\na=fmtp:100 profile-level-id=42e01f;packetization-mode=0\n"
             "a=rtpmap:101 H264/90000\na=rtpmap:97 h264/90000\na=fmtp:97 packetization-mode=1\n"),
       -1, ""},
      {offer(h264("104", "")), 104, ""},
      {offer(h264("99", "profile-level-id=42E01F;") + kConstrained), 102, "42e01f"},
      {offer(h264("34") + h264("64") + h264("95") + h264("128") + h264("300") + h264("-100")), -1, ""},
      {offer(h264("127", "")), 127, ""},
      {offer(h264("35", "")), 35, ""},
      {offer(h264("63", "")), 63, ""},
      {"", -1, "", ""},
      {"v=0\nm=video 9 RTP/AVP 102\n" + kConstrained, -1, "", ""},
      // The sets are shared across video sections.
      {"v=0\nm=video 9 X 102\na=mid:a\n" + kConstrained + "m=video 9 X 96\na=mid:b\n" + kHigh, 102, "42e01f", "b"},
  };
  for (const auto& c : cases) {
    VideoOfferInfo info;
    const bool found = scanVideoOffer(c.sdp, info);
    EXPECT_EQ(std::tuple(found, info.mid, info.payloadType, info.profileLevelId),
              std::tuple(c.payloadType >= 0, c.mid, c.payloadType, c.profile))
        << c.sdp;
  }
}
