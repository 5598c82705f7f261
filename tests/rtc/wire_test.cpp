// The layer's wire formats: RTP and RTCP headers, the NACK responder that
// reads feedback, and the data channel OPEN message.
#include "dcep.hpp"
#include "packet_kind.hpp"
#include "rtc/rtcpnackresponder.hpp"
#include "rtcp_packet.hpp"
#include "rtp_header.hpp"

#include "rtc_test_support.hpp"

#include <gtest/gtest.h>

#include <tuple>

using namespace rtctest;
using namespace rtc::impl;

namespace {

auto fields(const RtpHeader& h) {
  return std::tuple(h.marker, h.payloadType, h.sequenceNumber, h.timestamp, h.ssrc, h.padding, h.headerSize);
}

rtc::message_ptr rtp(uint16_t sequenceNumber) {
  return rtc::make_message(concat({bytes({0x80, 96}), u16(sequenceNumber), u32(7), u32(42), bytes({0xC0, 0xDE})}));
}

// A Generic NACK about `mediaSsrc` with (PID, BLP) entries.
rtc::binary nack(uint32_t mediaSsrc, std::vector<std::pair<unsigned, unsigned>> entries) {
  auto packet = concat({bytes({0x81, 205}), u16(static_cast<unsigned>(2 + entries.size())), u32(1), u32(mediaSsrc)});
  for (auto [pid, blp] : entries) packet = concat({packet, u16(pid), u16(blp)});
  return packet;
}

struct Responder {
  void send(uint16_t first, int count) {
    rtc::message_vector out;
    for (int i = 0; i < count; ++i) out.push_back(rtp(static_cast<uint16_t>(first + i)));
    responder.outgoing(out, nullptr);
  }

  // Sequence numbers of what goes out again in answer to `feedback`.
  std::vector<unsigned> resent(rtc::binary feedback, rtc::Message::Type type = rtc::Message::Control) {
    std::vector<unsigned> sequenceNumbers;
    rtc::message_vector in{rtc::make_message(std::move(feedback), type)};
    last.clear();
    responder.incoming(in, [&](rtc::message_ptr m) { last.push_back(m); });
    EXPECT_EQ(in.size(), 1u); // the feedback goes on up the chain
    for (const auto& m : last) sequenceNumbers.push_back(be16(*m, 2));
    return sequenceNumbers;
  }

  rtc::RtcpNackResponder responder{4};
  rtc::message_vector last; // what the last feedback had sent again
};

} // namespace

TEST(RtpHeader, ReadsFieldsAndRefusesWhatRunsPastTheEnd) {
  // Marker, PT 111, two CSRCs, a one-word extension, 3 octets payload, 2 padding.
  auto packet = concat({bytes({0xB2, 0xEF, 0x12, 0x34}), u32(256), u32(42), u32(1), u32(2), bytes({0xBE, 0xDE, 0, 1}),
                        u32(0x01020304), bytes({0xAA, 0xBB, 0xCC, 0, 2})});
  auto header = parseRtpHeader(packet);
  ASSERT_TRUE(header);
  EXPECT_EQ(fields(*header), std::tuple(true, uint8_t{111}, uint16_t{0x1234}, 256u, 42u, true, size_t{28}));
  EXPECT_EQ(rtpPayloadSize(packet, *header), 3u);

  for (size_t size = 0; size < 28; ++size) EXPECT_FALSE(parseRtpHeader(std::span(packet).first(size))) << size;
  auto longExtension = packet;
  longExtension[22] = std::byte{0xFF};
  EXPECT_FALSE(parseRtpHeader(longExtension));
  packet.back() = std::byte{6}; // more padding than payload
  EXPECT_FALSE(rtpPayloadSize(packet, *header));
  packet.back() = std::byte{0};
  EXPECT_FALSE(rtpPayloadSize(packet, *header));

  // A bare header is a packet without payload; one octet of padding leaves none.
  auto bare = concat({bytes({0xA0, 0x6F}), u16(1), u32(2), u32(3)});
  header = parseRtpHeader(bare);
  ASSERT_TRUE(header);
  EXPECT_EQ(fields(*header), std::tuple(false, uint8_t{111}, uint16_t{1}, 2u, 3u, true, size_t{12}));
  EXPECT_FALSE(rtpPayloadSize(bare, *header)); // padding flag, but no room for its count
  bare.push_back(std::byte{1});
  EXPECT_EQ(rtpPayloadSize(bare, *header), 0u);
  bare[0] = std::byte{0x80};
  bare.pop_back();
  header = parseRtpHeader(bare);
  ASSERT_TRUE(header);
  EXPECT_EQ(rtpPayloadSize(bare, *header), 0u);
}

TEST(PacketKind, SortsByFirstOctetAndRtcpType) {
  const std::pair<rtc::binary, PacketKind> cases[] = {
      {bytes({0, 1}), PacketKind::Stun},      {bytes({3}), PacketKind::Stun},
      {bytes({4}), PacketKind::Other},        {bytes({20}), PacketKind::Dtls},
      {bytes({63}), PacketKind::Dtls},        {bytes({0x80, 96}), PacketKind::Rtp},
      {bytes({0x80, 0xE0}), PacketKind::Rtp}, {bytes({0x81, 192}), PacketKind::Rtcp},
      {bytes({191, 223}), PacketKind::Rtcp},  {bytes({16, 200}), PacketKind::Other},
      {bytes({64, 200}), PacketKind::Other},  {bytes({192, 200}), PacketKind::Other},
      {bytes({0x80}), PacketKind::Other},     {bytes({}), PacketKind::Other}};
  for (const auto& [packet, kind] : cases)
    EXPECT_EQ(classifyPacket(packet), kind) << at(packet.empty() ? bytes({0}) : packet, 0);
  // A one-octet view is not RTCP, whatever follows it in memory.
  const auto sr = bytes({0x80, 200});
  EXPECT_FALSE(isRtcp(std::span(sr).first(1)));
}

TEST(RtcpWalker, StepsThroughACompoundAndStopsForGoodAtABrokenPacket) {
  const auto rr = bytes({0x80, 201, 0, 1, 0, 0, 0, 1}), bye = bytes({0x80, 203, 0, 0});
  const struct {
    rtc::binary compound;
    std::vector<unsigned> types;
    bool clean;
  } cases[] = {
      {concat({rr, bye}), {201, 203}, true},
      {bye, {203}, true},
      {{}, {}, true},
      {concat({rr, bytes({0x80, 201, 0})}), {201}, false},    // three octets left
      {concat({rr, bytes({0x80, 201, 0, 9})}), {201}, false}, // runs past the end
      {concat({bytes({0x40, 201, 0, 0}), rr}), {}, false},    // version 1
  };
  for (const auto& c : cases) {
    RtcpWalker walker(c.compound);
    std::vector<unsigned> types;
    while (auto packet = walker.next()) types.push_back(packet->type);
    EXPECT_EQ(types, c.types) << c.compound.size();
    EXPECT_FALSE(walker.next()) << c.compound.size();
    EXPECT_EQ(walker.clean(), c.clean) << c.compound.size();
  }
}

TEST(RtcpSenderReport, CarriesTheSenderInfoAndAZeroEndedWordPaddedCname) {
  // 1.5 s after 1970: 2208988801 s and half a second after 1900.
  const uint64_t ntp = toNtpTime(std::chrono::system_clock::time_point(std::chrono::milliseconds(1500)));
  EXPECT_EQ(ntp, 2208988801ULL << 32 | 0x80000000u);
  const auto senderInfo = concat({u32(42), u32(2208988801), u32(0x80000000), u32(777000), u32(3), u32(255)});
  // The SDES words after its header: SSRC, CNAME type and length, the name,
  // a zero and zeros to the end of the word.
  for (const auto& [cname, sdesWords, zeros] :
       {std::tuple{"thirteen-char", 5u, 1u}, std::tuple{"fourteen-chars", 6u, 4u}}) {
    const std::string name = cname;
    EXPECT_EQ(buildSenderReport({42, ntp, 777000, 3, 255}, name),
              concat({u32(0x80C80006), senderInfo, u32(0x81CA0000 | sdesWords), u32(42),
                      bytes({1, unsigned(name.size())}), text(name), filled(zeros, 0)}))
        << name;
  }
}

TEST(RtcpNackResponder, ResendsCopiesOfTheNamedPackets) {
  Responder r{rtc::RtcpNackResponder(16)};
  rtc::message_vector out{rtp(500), rtp(501), rtp(503)};
  const rtc::binary clear = *out[0];
  r.responder.outgoing(out, nullptr);
  EXPECT_EQ(out.size(), 3u);
  std::fill(out[0]->begin() + 12, out[0]->end(), std::byte{0xFF});                       // as in-place encryption would
  EXPECT_EQ(r.resent(nack(42, {{500, 0b101}})), (std::vector<unsigned>{500, 501, 503})); // 502 was never sent
  EXPECT_EQ(*r.last[0], clear);
  EXPECT_EQ(r.last[0]->type, rtc::Message::Binary);
}

// The history keeps the last packets across the sequence wrap, between one
// packet and half the sequence number space of them.
TEST(RtcpNackResponder, HistoryKeepsTheLastPacketsAcrossTheSequenceWrap) {
  Responder r;
  r.send(65533, 5); // 65533 drops out of a history of 4
  EXPECT_EQ(r.resent(nack(42, {{65532, 0xFFFF}})), (std::vector<unsigned>{65534, 65535, 0, 1}));
  r.send(2, 1);
  EXPECT_EQ(r.resent(nack(42, {{65534, 0}, {2, 0}})), (std::vector<unsigned>{2}));
  EXPECT_TRUE(r.resent(nack(42, {{1000, 0xFFFF}})).empty());
  EXPECT_TRUE(r.resent(nack(7, {{2, 0}})).empty()); // another stream
  for (auto [asked, kept] : {std::pair<size_t, uint16_t>{0, 1}, {65536, 32768}}) {
    Responder r{rtc::RtcpNackResponder(asked)};
    r.send(0, kept + 1);
    EXPECT_TRUE(r.resent(nack(42, {{0, 0}})).empty()) << asked;
    EXPECT_EQ(r.resent(nack(42, {{1, 0}})), std::vector<unsigned>{1}) << asked;
  }
}

TEST(RtcpNackResponder, MalformedFeedbackIsIgnored) {
  Responder r;
  r.send(10, 4);
  // A compound: receiver report, then the NACK.
  EXPECT_EQ(r.resent(concat({bytes({0x80, 201, 0, 1, 0, 0, 0, 1}), nack(42, {{10, 0}})})), std::vector<unsigned>{10});

  auto overrun = nack(42, {{11, 0}});
  overrun[3] = std::byte{9};
  EXPECT_TRUE(r.resent(overrun).empty());
  // Version 1, and transport feedback of another format (15: transport-wide).
  for (unsigned first : {0x41, 0x8F}) {
    auto other = nack(42, {{11, 0}});
    other[0] = std::byte(first);
    EXPECT_TRUE(r.resent(other).empty()) << first;
  }
  EXPECT_TRUE(r.resent(bytes({0x81, 205, 0, 1, 0, 0, 0, 1})).empty()); // no media SSRC, no FCI
  EXPECT_TRUE(r.resent(nack(42, {{11, 0}}), rtc::Message::Binary).empty());

  rtc::message_vector junk{rtc::make_message(bytes({0x80, 96, 0, 20})), nullptr};
  r.responder.outgoing(junk, nullptr);
  EXPECT_TRUE(r.resent(nack(42, {{20, 0}})).empty());
}

TEST(DataChannelOpen, ReadsAndWritesTheWireFormAndRefusesOtherMessages) {
  // Unordered with 3 retransmissions, priority 256, label "files", protocol "x".
  const std::vector<uint8_t> wire = {3, 0x81, 1, 0, 0, 0, 0, 3, 0, 5, 0, 1, 'f', 'i', 'l', 'e', 's', 'x'};
  const auto open = dcep::decodeOpen(wire);
  ASSERT_TRUE(open);
  EXPECT_EQ(std::tuple(open->label, open->protocol, open->priority, open->reliabilityParameter, open->unordered()),
            std::tuple(std::string("files"), std::string("x"), uint16_t{256}, uint32_t{3}, true));
  EXPECT_EQ(dcep::encodeOpen(*open), wire);

  // A label length that runs past the end, a truncated header, an unknown
  // channel type and an ACK are not OPEN messages.
  auto longer = wire, unknown = wire;
  longer[9] = 200;
  unknown[1] = 0x7f;
  for (const auto& other : {longer, std::vector<uint8_t>(wire.begin(), wire.begin() + 11), unknown, dcep::encodeAck()})
    EXPECT_FALSE(dcep::decodeOpen(other)) << other.size();
}
