#include "packet_kind.hpp"
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
  EXPECT_EQ(rtpPayloadSize(packet, *header), 3u);

  for (size_t size = 0; size < 28; ++size) EXPECT_FALSE(parseRtpHeader(std::span(packet).first(size))) << size;
  auto longExtension = packet;
  longExtension[22] = std::byte{0xFF};
  EXPECT_FALSE(parseRtpHeader(longExtension));
  packet.back() = std::byte{6}; // more padding than payload
  EXPECT_FALSE(rtpPayloadSize(packet, *header));
  packet.back() = std::byte{0};
  EXPECT_FALSE(rtpPayloadSize(packet, *header));
}

TEST(PacketKind, SortsByFirstOctetAndRtcpType) {
  const std::pair<rtc::binary, PacketKind> cases[] = {
      {bytes({0, 1}), PacketKind::Stun},      {bytes({3}), PacketKind::Stun},
      {bytes({20}), PacketKind::Dtls},        {bytes({63}), PacketKind::Dtls},
      {bytes({0x80, 96}), PacketKind::Rtp},   {bytes({0x80, 0xE0}), PacketKind::Rtp},
      {bytes({0x81, 192}), PacketKind::Rtcp}, {bytes({191, 223}), PacketKind::Rtcp},
      {bytes({16, 200}), PacketKind::Other},  {bytes({64, 200}), PacketKind::Other},
      {bytes({192, 200}), PacketKind::Other}, {bytes({0x80}), PacketKind::Other},
      {bytes({}), PacketKind::Other}};
  for (const auto& [packet, kind] : cases)
    EXPECT_EQ(classifyPacket(packet), kind) << at(packet.empty() ? bytes({0}) : packet, 0);
}
