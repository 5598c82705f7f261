#include "congestion/feedback_monitor.h"

#include "congestion/manual_clock.h"
#include "congestion/rate_controller.h"
#include "congestion/rtcp_builder.h"

#include <gtest/gtest.h>

#include <limits>

namespace dravnok::remote {
namespace {

using testing::ManualClock;
using testing::ReportBlock;
using testing::Rtcp;

constexpr int64_t kNow = 5'000'000;
// 2026-01-01 in 100 ns units since 1970.
constexpr int64_t kWall = 1'767'225'600LL * 10'000'000;

class FeedbackMonitorTest : public ::testing::Test {
protected:
  void parse(const Rtcp& packet, int64_t nowMs = kNow) {
    // An exactly sized heap copy, so that the sanitizers see any read past it.
    std::vector<std::byte> copy(packet.bytes());
    monitor.parseRtcp(copy.data(), copy.size(), nowMs);
  }

  RtcpFeedback& fb() { return controller->feedback(); }

  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<RateController> controller =
      std::make_shared<RateController>(RateControllerConfig{8'000'000, 2'500'000, 250'000, 1920, 1080}, nullptr, clock);
  FeedbackMonitor monitor{42, controller, clock};
};

TEST_F(FeedbackMonitorTest, ReceiverReportBlockForOurStreamIsRecorded) {
  parse(testing::receiverReport({{.ssrc = 42, .fraction = 26}}));
  EXPECT_EQ(fb().fractionLost.load(), 26u);
  EXPECT_EQ(fb().rttMs.load(), -1);
  EXPECT_EQ(fb().receiverReports.load(), 1u);
  EXPECT_EQ(fb().lastFeedbackMs.load(), kNow);
  EXPECT_TRUE(fb().feedbackSeen.load());
}

TEST_F(FeedbackMonitorTest, OtherStreamsOnlyCountAsFeedback) {
  parse(testing::receiverReport({{.ssrc = 43, .fraction = 200, .lsr = 5}}));
  EXPECT_EQ(fb().receiverReports.load(), 0u);
  EXPECT_EQ(fb().fractionLost.load(), 0u);
  EXPECT_EQ(fb().rttMs.load(), -1);
  EXPECT_TRUE(fb().feedbackSeen.load());
  EXPECT_EQ(fb().lastFeedbackMs.load(), kNow);
}

TEST_F(FeedbackMonitorTest, BlocksStartAfterTheSenderInfoInSenderReports) {
  // The sender info is laid out so that reading blocks from byte 8, as in a
  // receiver report, would find SSRC 42 with fraction 11.
  Rtcp sr;
  sr.header(1, 200, 12).u32(7).u32(42).u8(11).zeros(15);
  testing::block(sr, {.ssrc = 42, .fraction = 77});
  ASSERT_EQ(sr.size(), 52u);
  parse(sr);
  EXPECT_EQ(fb().fractionLost.load(), 77u);
  EXPECT_EQ(fb().receiverReports.load(), 1u);
}

TEST_F(FeedbackMonitorTest, EveryMatchingBlockCountsAndBlocksBeyondThePacketAreIgnored) {
  parse(testing::receiverReport(
      {{.ssrc = 42, .fraction = 10}, {.ssrc = 9, .fraction = 99}, {.ssrc = 42, .fraction = 30}}));
  EXPECT_EQ(fb().receiverReports.load(), 2u);
  EXPECT_EQ(fb().fractionLost.load(), 30u);

  // Claims two blocks but its length holds one; the buffer goes on with a
  // block-shaped tail that belongs to no packet.
  Rtcp rr;
  rr.header(2, 201, 7).u32(0);
  testing::block(rr, {.ssrc = 42, .fraction = 5});
  testing::block(rr, {.ssrc = 42, .fraction = 250});
  parse(rr);
  EXPECT_EQ(fb().receiverReports.load(), 3u);
  EXPECT_EQ(fb().fractionLost.load(), 5u);
}

TEST(RoundTrip, CompactNtpTimeIsTheMiddleOfTheNtpTimestamp) {
  // 1970-01-01 is NTP second 2208988800 = 0x83AA7E80.
  EXPECT_EQ(compactNtpTime(0), 0x7E800000u);
  EXPECT_EQ(compactNtpTime(5'000'000), 0x7E808000u); // + 0.5 s
  // Across the NTP era wrap in February 2036 the compact time runs on.
  const int64_t eraEnd = 2'085'978'496LL * 10'000'000;
  EXPECT_EQ(compactNtpTime(eraEnd - 10'000'000), 0xFFFF0000u);
  EXPECT_EQ(compactNtpTime(eraEnd + 10'000'000), 0x00010000u);
}

TEST(RoundTrip, ComesFromLsrAndDlsrUpToTenSeconds) {
  const uint32_t now = compactNtpTime(kWall);
  const uint32_t dlsr = 0x18000; // the viewer held the report 1.5 s
  EXPECT_EQ(roundTripMs(now - dlsr - 0x8000, dlsr, kWall), 500);
  EXPECT_EQ(roundTripMs(now - dlsr - 0x9FFFF, dlsr, kWall), 9999);
  EXPECT_EQ(roundTripMs(now - dlsr - 0xA0000, dlsr, kWall), -1);
  // An echo that seems to come from the future is not a round trip.
  EXPECT_EQ(roundTripMs(now - dlsr + 0x100, dlsr, kWall), -1);
  EXPECT_EQ(roundTripMs(0, dlsr, kWall), -1);
}

TEST_F(FeedbackMonitorTest, RoundTripUsesTheWallClock) {
  clock->setWallTicks(kWall);
  const uint32_t lsr = compactNtpTime(kWall) - 0x10000 - 0x4000; // 1 s held, 250 ms on the path
  parse(testing::receiverReport({{.ssrc = 42, .lsr = lsr, .dlsr = 0x10000}}));
  EXPECT_EQ(fb().rttMs.load(), 250);
}

TEST_F(FeedbackMonitorTest, RembIsDecodedFromExponentAndMantissa) {
  parse(testing::remb(5, 150000), kNow + 1);
  EXPECT_EQ(fb().rembBps.load(), 4'800'000u);
  EXPECT_EQ(fb().rembAtMs.load(), kNow + 1);
  parse(testing::remb(0, 12000));
  EXPECT_EQ(fb().rembBps.load(), 12'000u);
  parse(testing::remb(45, 0x3FFFF));
  EXPECT_EQ(fb().rembBps.load(), uint64_t{0x3FFFF} << 45);
  parse(testing::remb(46, 1));
  EXPECT_EQ(fb().rembBps.load(), std::numeric_limits<uint64_t>::max());
  parse(testing::remb(3, 125000));
  parse(testing::remb(63, 0x3FFFF));
  EXPECT_EQ(fb().rembBps.load(), std::numeric_limits<uint64_t>::max());
}

TEST_F(FeedbackMonitorTest, MalformedRembRecordsOnlyTheArrival) {
  Rtcp notRemb;
  notRemb.header(15, 206, 5).u32(0).u32(0).text("ABCD").u8(1).u8(5 << 2).u16(1000).u32(42);
  parse(notRemb);
  Rtcp tooShort;
  tooShort.header(15, 206, 3).u32(0).u32(0).text("REMB");
  parse(tooShort, kNow + 7);
  EXPECT_EQ(fb().rembBps.load(), 0u);
  EXPECT_EQ(fb().rembAtMs.load(), 0);
  EXPECT_EQ(fb().lastFeedbackMs.load(), kNow + 7);
}

TEST_F(FeedbackMonitorTest, PictureLossAndFullIntraRequestAskForOneKeyframe) {
  EXPECT_FALSE(controller->takeKeyframeRequest());
  parse(testing::pictureLoss(1));
  EXPECT_EQ(fb().pictureLossCount.load(), 1u);
  EXPECT_TRUE(controller->takeKeyframeRequest());
  EXPECT_FALSE(controller->takeKeyframeRequest());

  parse(testing::pictureLoss(4));
  parse(testing::pictureLoss(4));
  EXPECT_EQ(fb().pictureLossCount.load(), 3u);
  EXPECT_TRUE(controller->takeKeyframeRequest());
  EXPECT_FALSE(controller->takeKeyframeRequest());

  parse(testing::pictureLoss(2)); // slice loss: not a keyframe request
  EXPECT_EQ(fb().pictureLossCount.load(), 3u);
  EXPECT_FALSE(controller->takeKeyframeRequest());
}

TEST_F(FeedbackMonitorTest, NackCountsEachPacketIdAndEveryBitOfItsMask) {
  parse(testing::nack({0x0003}));
  EXPECT_EQ(fb().nackCount.load(), 3u);
  parse(testing::nack({0x0000}));
  EXPECT_EQ(fb().nackCount.load(), 4u);
  parse(testing::nack({0xFFFF, 0x8001}));
  EXPECT_EQ(fb().nackCount.load(), 4u + 17 + 3);

  // Too short for one entry, and a transport feedback that is no NACK.
  parse(Rtcp().header(1, 205, 2).u32(1).u32(42));
  parse(Rtcp().header(3, 205, 3).u32(1).u32(42).u32(0xFFFF));
  EXPECT_EQ(fb().nackCount.load(), 24u);
}

TEST_F(FeedbackMonitorTest, TruncatedInputIsIgnoredWithoutReadingPastIt) {
  Rtcp truncated;
  truncated.u8(0x80).u8(0xC9).u8(0xFF).u8(0xFF).u8(1).u8(2).u8(3);
  parse(truncated);
  parse(Rtcp().u8(0x81).u8(0xC9).u8(0));
  EXPECT_FALSE(fb().feedbackSeen.load());
  EXPECT_EQ(fb().lastFeedbackMs.load(), clock->steadyMs());
}

TEST_F(FeedbackMonitorTest, CompoundStopsAtTheFirstPacketThatCannotBeTrusted) {
  Rtcp overrun = testing::receiverReport({{.ssrc = 42, .fraction = 26}});
  overrun.append(Rtcp().header(1, 206, 9).u32(1).u32(42)); // claims 40 bytes, has 12
  parse(overrun);
  EXPECT_EQ(fb().receiverReports.load(), 1u);
  EXPECT_EQ(fb().pictureLossCount.load(), 0u);

  Rtcp badVersion = testing::pictureLoss();
  badVersion.append(Rtcp().u8(0x41).u8(206).u16(2).u32(1).u32(42)).append(testing::nack({1}));
  parse(badVersion);
  EXPECT_EQ(fb().pictureLossCount.load(), 1u);
  EXPECT_EQ(fb().nackCount.load(), 0u);

  // A well-formed compound is read to its end, whatever its types.
  Rtcp sdesThenNack = Rtcp().header(1, 202, 1).u32(42).append(testing::nack({0}));
  parse(sdesThenNack);
  EXPECT_EQ(fb().nackCount.load(), 1u);
}

TEST_F(FeedbackMonitorTest, IncomingParsesOnlyControlMessagesAndPassesEverythingOn) {
  clock->advanceMs(123);
  const Rtcp pli = testing::pictureLoss();
  rtc::message_vector messages{
      rtc::make_message(pli.bytes().begin(), pli.bytes().end(), rtc::Message::Control),
      rtc::make_message(pli.bytes().begin(), pli.bytes().end(), rtc::Message::Binary),
      nullptr,
      rtc::make_message(pli.bytes().begin(), pli.bytes().begin() + 7, rtc::Message::Control),
  };
  const rtc::message_vector before = messages;
  monitor.incoming(messages, nullptr);
  EXPECT_EQ(messages, before);
  EXPECT_EQ(fb().pictureLossCount.load(), 1u);
  EXPECT_EQ(fb().lastFeedbackMs.load(), clock->steadyMs());
}

TEST(FeedbackMonitorWithoutController, IgnoresEverything) {
  FeedbackMonitor monitor(42, nullptr);
  const Rtcp rr = testing::receiverReport({{.ssrc = 42, .fraction = 26}});
  monitor.parseRtcp(rr.data(), rr.size(), kNow);
  rtc::message_vector messages{rtc::make_message(rr.bytes().begin(), rr.bytes().end(), rtc::Message::Control)};
  monitor.incoming(messages, nullptr);
  EXPECT_EQ(messages.size(), 1u);
}

} // namespace
} // namespace dravnok::remote
