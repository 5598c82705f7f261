#include "packet_kind.hpp"
#include "rtcp_packet.hpp"
#include "rtp_header.hpp"

#include "rtc_test_support.hpp"

#include <gtest/gtest.h>

using namespace rtctest;
using namespace rtc::impl;

TEST(RtpHeader, ReadsFieldsAndRefusesWhatRunsPastTheEnd) {
  // Marker, PT 111, two CSRCs, a one-word extension, 3 octets payload, 2 padding.
  auto packet = concat({bytes({0xB2, 0xEF, 0x12, 0x34}), u32(256), u32(42), u32(1), u32(2), bytes({0xBE, 0xDE, 0, 1}),
                        u32(0x01020304), bytes({0xAA, 0xBB, 0xCC, 0, 2})});
  auto header = parseRtpHeader(packet);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->payloadType, 111);
  EXPECT_EQ(header->ssrc, 42u);
  EXPECT_EQ(header->headerSize, 28u);
  EXPECT_TRUE(header->marker);
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
  EXPECT_FALSE(header->marker);
  EXPECT_EQ(header->headerSize, 12u);
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
  const auto r = buildSenderReport({42, ntp, 777000, 3, 255}, "thirteen-char");
  ASSERT_EQ(r.size(), 28u + 24u); // SDES: header, SSRC, type, length, 13 octets, one zero
  const uint32_t words[] = {0x80C80006, 42, 2208988801, 0x80000000, 777000, 3, 255, 0x81CA0005, 42};
  for (size_t i = 0; i < std::size(words); ++i) EXPECT_EQ(be32(r, 4 * i), words[i]) << i;
  EXPECT_EQ(be16(r, 36), 0x010Du); // CNAME, 13 octets
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data()) + 38, 13), "thirteen-char");
  EXPECT_EQ(r.back(), std::byte{0});
}
