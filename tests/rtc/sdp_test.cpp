#include <rtc/candidate.hpp>
#include <rtc/configuration.hpp>
#include <rtc/description.hpp>

#include "sdp_text.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>

namespace {

const char* kOffer = "v=0\r\no=- 4611731400430051336 2 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\na=group:BUNDLE 0 1\r\n"
                     "m=video 9 UDP/TLS/RTP/SAVPF 96 102\r\nc=IN IP4 0.0.0.0\r\n"
                     "a=ice-ufrag:abcd\r\na=ice-pwd:0123456789012345678901\r\n"
                     "a=fingerprint:sha-256 ab:cd:ef\r\na=setup:actpass\r\n"
                     "a=mid:0\r\na=recvonly\r\na=rtcp-mux\r\n"
                     "a=rtpmap:96 VP8/90000\r\na=rtpmap:102 H264/90000\r\n"
                     "a=fmtp:102 profile-level-id=42e01f;packetization-mode=1\r\n"
                     "a=candidate:1 1 udp 2122260223 192.0.2.2 50000 typ host generation 0\r\n"
                     "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\r\nc=IN IP4 0.0.0.0\r\n"
                     "a=mid:1\r\na=sctp-port:5000\r\na=max-message-size:262144\r\n";

} // namespace

TEST(Description, ParsesAnOfferWritesItBackAndRefusesWhatIsNotSdp) {
  rtc::Description offer(kOffer, "offer");
  EXPECT_EQ(offer.type(), rtc::Description::Type::Offer);
  EXPECT_EQ(offer.iceUfrag().value_or(""), "abcd");
  const auto fingerprint = offer.fingerprint().value_or(rtc::Description::Fingerprint{});
  EXPECT_EQ(fingerprint.algorithm + " " + fingerprint.value, "sha-256 AB:CD:EF");
  EXPECT_EQ(offer.role(), rtc::Description::Role::ActPass);
  ASSERT_EQ(offer.mediaCount(), 2);
  auto video = std::dynamic_pointer_cast<rtc::Description::Media>(offer.entry(0));
  ASSERT_TRUE(video);
  EXPECT_EQ(std::tuple(video->mid(), video->direction(), video->hasPayloadType(102)),
            std::tuple(std::string("0"), rtc::Description::Direction::RecvOnly, true));
  auto app = offer.application();
  ASSERT_TRUE(app);
  EXPECT_EQ(std::tuple(app->mid(), app->maxMessageSize().value_or(0)), std::tuple(std::string("1"), size_t{262144}));
  ASSERT_EQ(offer.candidates().size(), 1u);
  EXPECT_EQ(offer.candidates()[0].mid(), "0");

  // Lines ending in a bare line feed read the same; the written text reads back.
  std::string lf = kOffer;
  for (size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
  const std::string written = rtc::Description(lf, "offer");
  for (const char* line : {"a=group:BUNDLE 0 1\r\n", "m=video 9 UDP/TLS/RTP/SAVPF 96 102\r\n", "a=recvonly\r\n"})
    EXPECT_NE(written.find(line), std::string::npos) << line << written;
  rtc::Description again(written, "offer");
  EXPECT_EQ(std::string(again), written);

  // What our answer sets: credentials, and a codec by its payload type; a
  // payload type beyond 127 is not one.
  again.setIceCredentials("ours", "our-password");
  EXPECT_EQ(again.iceUfrag().value_or("") + again.icePwd().value_or(""), "oursour-password");
  rtc::Description::Video ours("0", rtc::Description::Direction::Inactive);
  ours.addH264Codec(102);
  const std::string lines = ours.generateSdp("\n", "");
  EXPECT_NE(lines.find("a=rtpmap:102 H264/90000\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("a=inactive\n"), std::string::npos) << lines;
  auto odd = std::dynamic_pointer_cast<rtc::Description::Media>(
      rtc::Description("v=0\r\nm=video 9 RTP/AVP 200\r\na=rtpmap:200 VP8/90000\r\na=inactive\r\n").entry(0));
  EXPECT_FALSE(odd->hasPayloadType(200));
  EXPECT_EQ(odd->direction(), rtc::Description::Direction::Inactive);

  // Text that is not SDP.
  for (const char* text : {"hello world", "v=0\r\nm=video\r\n", "v=0\r\na=setup:sideways\r\n",
                           "v=0\r\nm=application 9 UDP/DTLS/SCTP x\r\na=sctp-port:99999\r\n"})
    EXPECT_THROW(rtc::Description(text, "offer"), std::invalid_argument) << text;
}

// Data channel sections are answered in the form they were offered in: the
// older "DTLS/SCTP <port>" with a=sctpmap, or RFC 8841's with a=sctp-port.
TEST(Description, DataChannelSectionKeepsTheOfferedForm) {
  const std::string oldForm = "m=application 9 DTLS/SCTP 5000\r\n",
                    newForm = "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\r\n";
  const std::string sctpmap = "a=sctpmap:5000 webrtc-datachannel 1024\r\n";
  const std::tuple<std::string, uint16_t, std::string, std::string> cases[] = {
      {"m=application 9 DTLS/SCTP 5001\r\na=sctpmap:5001 webrtc-datachannel 65535\r\n", 5001, oldForm, sctpmap},
      {"m=application 9 DTLS/SCTP 5002\r\n", 5002, oldForm, sctpmap},
      {newForm + "a=sctp-port:5003\r\n", 5003, newForm, "a=sctp-port:5000\r\n"},
  };
  for (const auto& [offeredSection, offeredPort, mLine, portLine] : cases) {
    auto offered = rtc::Description("v=0\r\n" + offeredSection + "a=mid:data\r\n", "offer").application();
    ASSERT_TRUE(offered) << offeredSection;
    EXPECT_EQ(offered->sctpPort().value_or(0), offeredPort) << offeredSection;

    // What the answer builds: the offer's protocol, our own port.
    rtc::Description answer("", rtc::Description::Type::Answer);
    auto app = std::make_shared<rtc::Description::Application>(offered->mid());
    app->setProtocol(offered->protocol());
    app->setSctpPort(5000);
    answer.addEntry(app);
    const std::string sdp = answer;
    EXPECT_EQ(sdp.substr(sdp.find("m=")),
              mLine + "c=IN IP4 0.0.0.0\r\na=mid:data\r\na=ice-options:trickle\r\na=setup:actpass\r\n" + portLine);
    EXPECT_EQ(rtc::Description(sdp).application()->sctpPort().value_or(0), 5000) << sdp;
  }
}

// One transport serves every section: the BUNDLE-tagged section's (the first
// mid of the group), without BUNDLE the first section's; what a section does
// not state comes from the session level. Other sections' credentials and
// candidates are those of transports we never use.
TEST(Description, TransportIsThatOfTheBundleTaggedSection) {
  using Role = rtc::Description::Role;
  // A section with its own credentials, fingerprint, role and one candidate
  // whose port tells the sections apart.
  auto section = [](const std::string& mid, const std::string& ufrag, const char* setup, int port) {
    std::string text = "m=video 9 UDP/TLS/RTP/SAVPF 96\r\na=mid:" + mid + "\r\n";
    if (ufrag.empty()) return text;
    return text + "a=ice-ufrag:" + ufrag + "\r\na=ice-pwd:pwd-" + ufrag + "\r\na=fingerprint:sha-256 " + ufrag +
           "\r\na=setup:" + setup + "\r\na=candidate:1 1 udp 1 192.0.2.1 " + std::to_string(port) + " typ host\r\n";
  };
  const std::string sessionCredentials = "a=ice-ufrag:US\r\na=ice-pwd:pwd-US\r\na=fingerprint:sha-256 US\r\n";
  struct Case {
    std::string sessionLevel;
    std::string ufragB; // section "a" states "UA"
    std::string want;
    std::string wantMid;
    Role wantRole;
    std::string wantCandidates; // mid:port of each
  } cases[] = {
      {"a=group:BUNDLE a b\r\n", "UB", "UA", "a", Role::Active, "a:1 "},
      {"a=group:BUNDLE b a\r\n", "UB", "UB", "b", Role::Passive, "b:2 "},
      {"", "UB", "UA", "a", Role::Active, "a:1 "},
      {"a=group:BUNDLE b a\r\n" + sessionCredentials, "", "US", "b", Role::ActPass, ""},
  };
  for (const auto& c : cases) {
    const std::string text =
        "v=0\r\n" + c.sessionLevel + section("a", "UA", "active", 1) + section("b", c.ufragB, "passive", 2);
    rtc::Description d(text, "offer");
    std::string candidates;
    for (const auto& candidate : d.candidates())
      candidates += candidate.mid() + ":" + std::to_string(candidate.port()) + " ";
    EXPECT_EQ(std::tuple(d.iceUfrag().value_or(""), d.icePwd().value_or(""),
                         d.fingerprint().value_or(rtc::Description::Fingerprint{}).value, d.role(), d.bundleMid(),
                         candidates),
              std::tuple(c.want, "pwd-" + c.want, c.want, c.wantRole, c.wantMid, c.wantCandidates))
        << text;
  }
}

TEST(Candidate, ParsesFieldsAndStripsThePrefix) {
  const std::string line = "candidate:842163049 1 udp 1677729535 198.51.100.7 61665 typ srflx raddr 0.0.0.0 rport 0";
  rtc::Candidate c("a=" + line, "0");
  ASSERT_TRUE(c.parsed());
  EXPECT_EQ(std::tuple(c.candidate(), c.mid(), c.address(), c.port(), c.type()),
            std::tuple(line, std::string("0"), std::string("198.51.100.7"), uint16_t{61665}, std::string("srflx")));
  EXPECT_FALSE(rtc::Candidate("candidate:1 1 udp x 1.2.3.4 5 typ host").parsed());
  EXPECT_FALSE(rtc::Candidate("candidate:1 1 udp 1 1.2.3.4 70000 typ host").parsed());
}

TEST(IceServer, ReadsStunAndTurnUrlsAndRejectsUnusableOnesNamingThem) {
  using Type = rtc::IceServer::Type;
  using Relay = rtc::IceServer::RelayType;
  const std::tuple<const char*, Type, std::string, uint16_t, Relay> cases[] = {
      {"stun:stun.example.org", Type::Stun, "stun.example.org", 3478, Relay::TurnUdp},
      {"turn:198.51.100.1:3479?transport=tcp", Type::Turn, "198.51.100.1", 3479, Relay::TurnTcp},
      {"turns:relay.example.org", Type::Turn, "relay.example.org", 5349, Relay::TurnTls},
      {"turn:[2001:db8::1]:3478?transport=udp", Type::Turn, "2001:db8::1", 3478, Relay::TurnUdp},
  };
  for (const auto& [url, type, hostname, port, relayType] : cases) {
    const rtc::IceServer server(url);
    EXPECT_EQ(std::tie(server.type, server.hostname, server.port, server.relayType),
              std::tie(type, hostname, port, relayType))
        << url;
  }
  for (const char* url :
       {"http://example.org", "stun:", "stun:host:0", "stun:host:65536", "stun:host:abc", "turn:host?transport=sctp",
        "turns:host?transport=udp", "stun:host?transport=udp", "turn:[::1", "nonsense"})
    EXPECT_THAT([&] { rtc::IceServer server(url); },
                testing::ThrowsMessage<std::invalid_argument>(testing::HasSubstr(url)));
}

TEST(SdpText, NumbersWordsAndLines) {
  using rtc::impl::parseUnsigned;
  EXPECT_EQ(parseUnsigned("0000000000000005000").value_or(0), 5000u); // 19 digits: the most read
  for (const char* bad : {"", "18446744073709551617", "12a", "-1"}) EXPECT_FALSE(parseUnsigned(bad)) << bad;
  EXPECT_EQ(rtc::impl::splitWords(" a\t b  "), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(rtc::impl::splitLines("v=0\r\n\r\na\nb"), (std::vector<std::string>{"v=0", "a", "b"}));
}
