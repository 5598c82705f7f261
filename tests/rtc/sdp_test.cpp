#include <rtc/candidate.hpp>
#include <rtc/configuration.hpp>
#include <rtc/description.hpp>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

const char* kOffer = "v=0\r\n"
                     "o=- 4611731400430051336 2 IN IP4 127.0.0.1\r\n"
                     "s=-\r\n"
                     "t=0 0\r\n"
                     "a=group:BUNDLE 0 1\r\n"
                     "m=video 9 UDP/TLS/RTP/SAVPF 96 102\r\n"
                     "c=IN IP4 0.0.0.0\r\n"
                     "a=ice-ufrag:abcd\r\n"
                     "a=ice-pwd:0123456789012345678901\r\n"
                     "a=fingerprint:sha-256 ab:cd:ef\r\n"
                     "a=setup:actpass\r\n"
                     "a=mid:0\r\n"
                     "a=recvonly\r\n"
                     "a=rtcp-mux\r\n"
                     "a=rtpmap:96 VP8/90000\r\n"
                     "a=rtpmap:102 H264/90000\r\n"
                     "a=fmtp:102 profile-level-id=42e01f;packetization-mode=1\r\n"
                     "a=candidate:1 1 udp 2122260223 192.0.2.2 50000 typ host generation 0\r\n"
                     "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\r\n"
                     "c=IN IP4 0.0.0.0\r\n"
                     "a=mid:1\r\n"
                     "a=sctp-port:5000\r\n"
                     "a=max-message-size:262144\r\n";

} // namespace

TEST(Description, ParsesAnOfferAndWritesItBack) {
  rtc::Description offer(kOffer, "offer");
  EXPECT_EQ(offer.type(), rtc::Description::Type::Offer);
  EXPECT_EQ(offer.typeString(), "offer");
  EXPECT_EQ(offer.iceUfrag().value_or(""), "abcd");
  ASSERT_TRUE(offer.fingerprint());
  EXPECT_EQ(offer.fingerprint()->algorithm, "sha-256");
  EXPECT_EQ(offer.fingerprint()->value, "AB:CD:EF");
  EXPECT_EQ(offer.role(), rtc::Description::Role::ActPass);
  ASSERT_EQ(offer.mediaCount(), 2);
  auto video = std::dynamic_pointer_cast<rtc::Description::Media>(offer.entry(0));
  ASSERT_TRUE(video);
  EXPECT_EQ(video->mid(), "0");
  EXPECT_EQ(video->direction(), rtc::Description::Direction::RecvOnly);
  EXPECT_TRUE(video->hasPayloadType(102));
  auto app = offer.application();
  ASSERT_TRUE(app);
  EXPECT_EQ(app->mid(), "1");
  EXPECT_EQ(app->maxMessageSize().value_or(0), 262144u);
  ASSERT_EQ(offer.candidates().size(), 1u);
  EXPECT_EQ(offer.candidates()[0].mid(), "0");

  // Lines ending in a bare line feed read the same; the written text reads back.
  std::string lf = kOffer;
  for (size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
  rtc::Description again(std::string(rtc::Description(lf, "offer")), "offer");
  EXPECT_EQ(again.mediaCount(), 2);
  EXPECT_EQ(again.iceUfrag(), offer.iceUfrag());
  EXPECT_EQ(again.application()->sctpPort().value_or(0), 5000);
}

TEST(Description, RejectsTextThatIsNotSdp) {
  EXPECT_THROW(rtc::Description("hello world", "offer"), std::invalid_argument);
  EXPECT_THROW(rtc::Description("v=0\r\nm=video\r\n", "offer"), std::invalid_argument);
  EXPECT_THROW(rtc::Description("v=0\r\nm=application 9 UDP/DTLS/SCTP x\r\na=sctp-port:99999\r\n"),
               std::invalid_argument);
  EXPECT_THROW(rtc::Description("v=0\r\na=setup:sideways\r\n"), std::invalid_argument);
}

TEST(Candidate, ParsesFieldsAndStripsThePrefix) {
  rtc::Candidate c("a=candidate:842163049 1 udp 1677729535 198.51.100.7 61665 typ srflx raddr 0.0.0.0 rport 0", "0");
  EXPECT_EQ(c.candidate(), "candidate:842163049 1 udp 1677729535 198.51.100.7 61665 typ srflx raddr 0.0.0.0 rport 0");
  EXPECT_EQ(c.mid(), "0");
  ASSERT_TRUE(c.parsed());
  EXPECT_EQ(c.address(), "198.51.100.7");
  EXPECT_EQ(c.port(), 61665);
  EXPECT_EQ(c.type(), "srflx");
  EXPECT_FALSE(rtc::Candidate("candidate:1 1 udp x 1.2.3.4 5 typ host").parsed());
  EXPECT_FALSE(rtc::Candidate("candidate:1 1 udp 1 1.2.3.4 70000 typ host").parsed());
}

TEST(IceServer, ParsesStunAndTurnUrls) {
  rtc::IceServer stun("stun:stun.example.org");
  EXPECT_EQ(stun.type, rtc::IceServer::Type::Stun);
  EXPECT_EQ(stun.hostname, "stun.example.org");
  EXPECT_EQ(stun.port, 3478);

  rtc::IceServer turn("turn:198.51.100.1:3479?transport=tcp");
  EXPECT_EQ(turn.type, rtc::IceServer::Type::Turn);
  EXPECT_EQ(turn.port, 3479);
  EXPECT_EQ(turn.relayType, rtc::IceServer::RelayType::TurnTcp);

  rtc::IceServer turns("turns:relay.example.org");
  EXPECT_EQ(turns.port, 5349);
  EXPECT_EQ(turns.relayType, rtc::IceServer::RelayType::TurnTls);

  rtc::IceServer v6("turn:[2001:db8::1]:3478?transport=udp");
  EXPECT_EQ(v6.hostname, "2001:db8::1");
  EXPECT_EQ(v6.relayType, rtc::IceServer::RelayType::TurnUdp);
}

TEST(IceServer, RejectsUnusableUrlsNamingThem) {
  for (const char* url :
       {"http://example.org", "stun:", "stun:host:0", "stun:host:65536", "stun:host:abc", "turn:host?transport=sctp",
        "turns:host?transport=udp", "stun:host?transport=udp", "turn:[::1", "nonsense"}) {
    try {
      rtc::IceServer server(url);
      ADD_FAILURE() << url << " was accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(url), std::string::npos) << e.what();
    }
  }
}
