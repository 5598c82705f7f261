#include "rtc/h264rtppacketizer.hpp"

#include "rtc_test_support.hpp"

#include <gtest/gtest.h>

using namespace rtctest;
using Separator = rtc::NalUnit::Separator;

namespace {

std::shared_ptr<rtc::RtpPacketizationConfig> makeConfig() {
  auto config = std::make_shared<rtc::RtpPacketizationConfig>(42, "cname", 102, 90000);
  config->sequenceNumber = 65534;
  config->timestamp = 123456;
  return config;
}

rtc::message_vector packetize(rtc::H264RtpPacketizer& packetizer, rtc::binary accessUnit) {
  rtc::message_vector messages{rtc::make_message(std::move(accessUnit))};
  packetizer.outgoing(messages, nullptr);
  return messages;
}

// Rebuilds the NAL units from single NAL unit packets and FU-A fragments.
std::vector<rtc::binary> depacketize(const rtc::message_vector& packets) {
  std::vector<rtc::binary> units;
  for (const auto& p : packets) {
    const rtc::binary payload(p->begin() + 12, p->end());
    if ((at(payload, 0) & 0x1F) != 28) {
      units.push_back(payload);
      continue;
    }
    if (at(payload, 1) & 0x80) units.push_back(bytes({(at(payload, 0) & 0xE0) | (at(payload, 1) & 0x1F)}));
    units.back().insert(units.back().end(), payload.begin() + 2, payload.end());
  }
  return units;
}

rtc::binary nal(unsigned header, size_t size) { return concat({bytes({header}), filled(size - 1, 0xAB)}); }

} // namespace

TEST(H264RtpPacketizer, FragmentsExactlyAboveTheLargestSize) {
  auto config = makeConfig();
  rtc::H264RtpPacketizer packetizer(Separator::LongStartSequence, config, 100);
  const auto fits = nal(0x67, 100), oneOver = nal(0x65, 101), large = nal(0x45, 1000);
  const rtc::binary startCode = bytes({0, 0, 0, 1});
  const auto packets = packetize(packetizer, concat({startCode, fits, startCode, oneOver, startCode, large}));

  // 101 octets: 98 + 2 after the header octet; 1000: ceil(999 / 98) = 11.
  ASSERT_EQ(packets.size(), 1u + 2u + 11u);
  EXPECT_EQ(packets[2]->size(), 12u + 4u);
  EXPECT_EQ(at(*packets[1], 12), 0x60u | 28u); // NRI of the unit, type FU-A
  EXPECT_EQ(at(*packets[1], 13), 0x80u | 5u);  // start
  EXPECT_EQ(at(*packets[2], 13), 0x40u | 5u);  // end
  EXPECT_EQ(depacketize(packets), (std::vector<rtc::binary>{fits, oneOver, large}));

  // One access unit: one timestamp, consecutive sequence numbers across the
  // wrap, the marker only on the very last packet.
  for (size_t i = 0; i < packets.size(); ++i) {
    const auto& p = *packets[i];
    EXPECT_LE(p.size(), 112u);
    EXPECT_EQ(at(p, 0), 0x80u);
    EXPECT_EQ(at(p, 1), (i + 1 == packets.size() ? 0x80u : 0u) | 102u) << i;
    EXPECT_EQ(be16(p, 2), (65534 + i) % 65536);
    EXPECT_EQ(be32(p, 4), 123456u);
    EXPECT_EQ(be32(p, 8), 42u);
  }
  EXPECT_EQ(config->sequenceNumber, (65534 + packets.size()) % 65536);
}

TEST(H264RtpPacketizer, SplitsMixedStartCodesTinyUnitsAndEmptyInput) {
  auto config = makeConfig();
  rtc::H264RtpPacketizer packetizer(Separator::LongStartSequence, config);
  // Leading zeros, 3- and 4-byte start codes, one-octet units, trailing
  // zeros before a start code, an empty unit.
  auto stream = bytes({0, 0,    0, 0, 1, 0x09, 0x10, 0, 0, 1,    0x67, 0x42, 0, 0,    0,    0,
                       1, 0x68, 0, 0, 1, 0,    0,    0, 1, 0x0C, 0,    0,    1, 0x65, 0x88, 0x84});
  EXPECT_EQ(depacketize(packetize(packetizer, stream)),
            (std::vector<rtc::binary>{bytes({0x09, 0x10}), bytes({0x67, 0x42}), bytes({0x68}), bytes({0x0C}),
                                      bytes({0x65, 0x88, 0x84})}));

  // Length prefixes: a zero length is skipped, one that overruns ends it.
  rtc::H264RtpPacketizer prefixed(Separator::Length, config);
  auto withLengths = bytes({0, 0, 0, 2, 0x67, 0x42, 0, 0, 0, 0, 0, 0, 0, 1, 0x68, 0, 0, 0, 9, 0x65, 1});
  EXPECT_EQ(depacketize(packetize(prefixed, withLengths)),
            (std::vector<rtc::binary>{bytes({0x67, 0x42}), bytes({0x68})}));

  // Nothing to send: no packets, no sequence numbers used; control passes.
  const uint16_t sequenceNumber = config->sequenceNumber;
  auto control = rtc::make_message(bytes({0x80, 200, 0, 0}), rtc::Message::Control);
  rtc::message_vector messages{rtc::make_message(0), rtc::make_message(bytes({0, 0, 0, 1, 0, 0, 0, 1})), control};
  packetizer.outgoing(messages, nullptr);
  EXPECT_EQ(messages, rtc::message_vector{control});
  EXPECT_EQ(config->sequenceNumber, sequenceNumber);
}

TEST(RtpPacketizationConfig, ConvertsSecondsAndTicksWithWrapping) {
  rtc::RtpPacketizationConfig config(1, "c", 96, 90000);
  EXPECT_EQ(config.secondsToTimestamp(1.0 / 30), 3000u);
  EXPECT_EQ(config.secondsToTimestamp(-1.0 / 30), static_cast<uint32_t>(-3000));
  // Past 2^32 ticks: wraps instead of overflowing.
  EXPECT_EQ(config.secondsToTimestamp(50000), static_cast<uint32_t>(4'500'000'000ULL));
  EXPECT_DOUBLE_EQ(config.timestampToSeconds(45000), 0.5);
}
