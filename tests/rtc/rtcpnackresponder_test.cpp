#include "rtc/rtcpnackresponder.hpp"

#include "rtc_test_support.hpp"

#include <gtest/gtest.h>

using namespace rtctest;

namespace {

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
    responder.incoming(in, [&](rtc::message_ptr m) { sequenceNumbers.push_back(be16(*m, 2)); });
    EXPECT_EQ(in.size(), 1u); // the feedback goes on up the chain
    return sequenceNumbers;
  }

  rtc::RtcpNackResponder responder{4};
};

} // namespace

TEST(RtcpNackResponder, ResendsCopiesOfTheNamedPackets) {
  rtc::RtcpNackResponder responder(16);
  auto original = rtp(500);
  const rtc::binary clear = *original;
  rtc::message_vector out{original, rtp(501), rtp(503)};
  responder.outgoing(out, nullptr);
  EXPECT_EQ(out.size(), 3u);
  std::fill(original->begin() + 12, original->end(), std::byte{0xFF}); // as in-place encryption would

  rtc::message_vector resent, in{rtc::make_message(nack(42, {{500, 0b101}}), rtc::Message::Control)};
  responder.incoming(in, [&](rtc::message_ptr m) { resent.push_back(m); }); // 502 was never sent
  ASSERT_EQ(resent.size(), 3u);
  EXPECT_EQ(*resent[0], clear);
  EXPECT_EQ(resent[0]->type, rtc::Message::Binary);
  EXPECT_EQ(be16(*resent[2], 2), 503u);
}

TEST(RtcpNackResponder, HistoryKeepsTheLastPacketsAcrossTheSequenceWrap) {
  Responder r;
  r.send(65533, 5); // 65533 drops out of a history of 4
  EXPECT_EQ(r.resent(nack(42, {{65532, 0xFFFF}})), (std::vector<unsigned>{65534, 65535, 0, 1}));
  r.send(2, 1);
  EXPECT_EQ(r.resent(nack(42, {{65534, 0}, {2, 0}})), (std::vector<unsigned>{2}));
  EXPECT_TRUE(r.resent(nack(42, {{1000, 0xFFFF}})).empty());
  EXPECT_TRUE(r.resent(nack(7, {{2, 0}})).empty()); // another stream
}

// Between one packet and half the sequence number space.
TEST(RtcpNackResponder, HistorySizeIsClamped) {
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
