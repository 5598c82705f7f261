#include "congestion/rate_controller.h"

#include "congestion/adaptive_pacer.h"
#include "congestion/feedback_monitor.h"
#include "congestion/manual_clock.h"
#include "congestion/rtcp_builder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

namespace dravnok::remote {
namespace {

using ::testing::HasSubstr;
using testing::ManualClock;

constexpr RateControllerConfig kConfig{8'000'000, 2'500'000, 250'000, 1920, 1080};
constexpr int64_t kStartMs = 1'000'000;
constexpr int64_t kT0 = kStartMs + 100;

void waitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 5000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(condition());
}

class RateControllerTest : public ::testing::Test {
protected:
  RateController& make(RateControllerConfig config = kConfig) {
    controller = std::make_shared<RateController>(
        config, [this](const std::string& line) { lines.push_back(line); }, clock);
    return *controller;
  }

  // What the monitor records for one report block about our stream.
  void report(int64_t atMs, uint32_t fraction, int64_t rttMs = -1) {
    RtcpFeedback& fb = controller->feedback();
    fb.fractionLost = fraction;
    fb.rttMs = rttMs;
    fb.lastFeedbackMs = atMs;
    fb.feedbackSeen = true;
    fb.receiverReports++;
  }

  // One report, then the controller's next pass at the same time.
  void step(int64_t atMs, uint32_t fraction, int64_t rttMs = -1) {
    report(atMs, fraction, rttMs);
    controller->update(atMs);
  }

  void pictureLoss(uint32_t count) { controller->feedback().pictureLossCount += count; }

  // A pacer on its own clock, which drains whatever it gets at once.
  AdaptivePacer& attachPacer() {
    pacer = std::make_shared<AdaptivePacer>(4'000'000, std::make_shared<ManualClock>());
    controller->setPacer(pacer);
    return *pacer;
  }

  void traffic(size_t packets) {
    const uint64_t goal = pacer->packetsSent() + packets;
    rtc::message_vector batch;
    for (size_t i = 0; i < packets; ++i) batch.push_back(rtc::make_message(1200));
    pacer->outgoing(batch, [](rtc::message_ptr) {});
    waitFor([&] { return pacer->packetsSent() == goal; });
  }

  void updateWithTraffic(int64_t atMs, size_t packets = 5) {
    traffic(packets);
    controller->update(atMs);
  }

  // From 1.75 Mbps up by 8 % a second; the seventh report (at kT0 + 7000) is
  // the first with 20 % headroom above the 30 fps step.
  void growTowardsThirtyFps() {
    step(kT0, 26);
    for (int i = 1; i <= 7; ++i) {
      step(kT0 + 1000 * i, 0);
    }
  }

  uint32_t target() const { return controller->targetBitrate(); }
  int32_t fps() const { return controller->targetFrameRate(); }

  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>(kStartMs);
  std::vector<std::string> lines;
  std::shared_ptr<RateController> controller;
  std::shared_ptr<AdaptivePacer> pacer;
};

TEST(RateControllerConfig, IsNormalised) {
  RateController low({1'000'000, 50'000, 100'000, 640, 480}, nullptr);
  EXPECT_EQ(low.config().minBps, 150'000u);
  EXPECT_EQ(low.targetBitrate(), 150'000u);
  RateController high({3'000'000, 9'000'000, 250'000, 640, 480}, nullptr);
  EXPECT_EQ(high.targetBitrate(), 3'000'000u);
  RateController inverted({100'000, 1'000'000, 400'000, 640, 480}, nullptr);
  EXPECT_EQ(inverted.config().maxBps, 400'000u);
  EXPECT_EQ(inverted.targetBitrate(), 400'000u);
}

TEST(FrameRateLadder, StepsAtFourHundredthsOfABitPerPixel) {
  EXPECT_EQ(RateController::fpsFor(2'600'000, 1920, 1080), 30);
  EXPECT_EQ(RateController::fpsFor(2'488'320, 1920, 1080), 30);
  EXPECT_EQ(RateController::fpsFor(2'488'319, 1920, 1080), 20);
  EXPECT_EQ(RateController::fpsFor(1'700'000, 1920, 1080), 20);
  EXPECT_EQ(RateController::fpsFor(1'300'000, 1920, 1080), 15);
  EXPECT_EQ(RateController::fpsFor(1'244'159, 1920, 1080), 10);
  EXPECT_EQ(RateController::fpsFor(1'000'000, 1920, 1080), 10);
  // A degenerate size counts as one pixel.
  EXPECT_EQ(RateController::fpsFor(2, 0, 1080), 30);
  EXPECT_EQ(RateController::fpsFor(0, 1920, 0), 10);
}

TEST_F(RateControllerTest, RembIsLoggedOnceButNeverMovesTheTarget) {
  make();
  FeedbackMonitor monitor(42, controller, clock);
  const auto high = testing::remb(5, 150000);
  monitor.parseRtcp(high.data(), high.size(), kT0);
  controller->update(kT0 + 10);
  EXPECT_EQ(target(), 2'500'000u);

  const auto tiny = testing::remb(0, 12000);
  for (int i = 1; i <= 8; ++i) {
    monitor.parseRtcp(tiny.data(), tiny.size(), kT0 + 200 * i);
    controller->update(kT0 + 200 * i);
  }
  EXPECT_EQ(target(), 2'500'000u);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "cc: first REMB 4800 kbps"), 1);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](auto& l) { return l.find("first REMB") != l.npos; }), 1);
}

TEST_F(RateControllerTest, AnOldRembIsNotLoggedAsTheFirst) {
  make();
  controller->feedback().rembBps = 1'000'000;
  controller->feedback().rembAtMs = kT0;
  controller->update(kT0 + 5000);
  for (const auto& line : lines) EXPECT_THAT(line, ::testing::Not(HasSubstr("first REMB")));
}

TEST_F(RateControllerTest, LossAboveTenPercentCutsBy07AtMostOncePerSecond) {
  make();
  step(kT0, 26);
  EXPECT_EQ(target(), 1'750'000u);
  EXPECT_EQ(fps(), 20); // the frame rate falls in the same step

  step(kT0 + 999, 26);
  EXPECT_EQ(target(), 1'750'000u);

  step(kT0 + 1000, 26);
  EXPECT_NEAR(target(), 1'225'000, 1);
}

TEST_F(RateControllerTest, CleanReportsGrowByTheirSpacingCappedAtTwoSeconds) {
  make({3'200'000, 2'500'000, 250'000, 1920, 1080});
  step(kT0, 0); // the first report gets two seconds' worth
  EXPECT_NEAR(target(), 2'916'000, 1);
  step(kT0 + 500, 5); // 1.95 % loss still counts as clean
  EXPECT_NEAR(target(), 2'916'000 * std::sqrt(1.08), 1);
  step(kT0 + 1500, 6); // 2.3 %: hold
  EXPECT_NEAR(target(), 2'916'000 * std::sqrt(1.08), 1);
  step(kT0 + 20'000, 0);
  EXPECT_EQ(target(), 3'200'000u); // 1.1664x would pass the maximum
}

TEST_F(RateControllerTest, RttGrowthCutsBy085AfterTwoHighReports) {
  make();
  step(kT0, 0, 50);
  EXPECT_NEAR(target(), 2'916'000, 1);
  step(kT0 + 1000, 0, 201); // above 50 + max(50, 100): first high report
  EXPECT_NEAR(target(), 3'149'280, 1);
  step(kT0 + 2000, 0, 201);
  EXPECT_NEAR(target(), 3'149'280 * 0.85, 1);
  step(kT0 + 3000, 0, 150); // not above 150: the count starts again
  step(kT0 + 4000, 0, 201);
  EXPECT_NEAR(target(), 3'149'280 * 0.85 * 1.08 * 1.08, 2);
}

TEST_F(RateControllerTest, TheMinimumRttIsRefreshedAfterThirtySeconds) {
  make();
  step(kT0, 0, 50);
  step(kT0 + 31'000, 0, 300); // the path changed; 300 is the new minimum
  step(kT0 + 32'000, 0, 300);
  EXPECT_NEAR(target(), 2'916'000 * 1.1664 * 1.08, 2);
}

TEST_F(RateControllerTest, PictureLossStormCutsOnlyAfterTheStartAndWithinTwoSeconds) {
  make();
  step(kT0, 0);
  pictureLoss(2); // a decoder starting up: no storm yet
  step(kT0 + 1000, 0);
  EXPECT_NEAR(target(), 3'149'280, 1);

  pictureLoss(2);
  step(kT0 + 3500, 0);
  EXPECT_NEAR(target(), 3'149'280 * 0.85, 1);

  pictureLoss(1);
  step(kT0 + 6000, 0);
  pictureLoss(1); // 2100 ms after the last: a new window
  step(kT0 + 8100, 0);
  EXPECT_NEAR(target(), 3'149'280 * 0.85 * 1.1664 * 1.1664, 2);
}

TEST_F(RateControllerTest, NacksAboveOneInTenPacketsCutBy085) {
  make();
  attachPacer();
  traffic(100);
  step(kT0, 0); // application-limited: no growth
  EXPECT_EQ(target(), 2'500'000u);
  traffic(100);
  controller->feedback().nackCount += 11;
  step(kT0 + 1000, 0);
  EXPECT_NEAR(target(), 2'125'000, 1);
  traffic(100);
  controller->feedback().nackCount += 10;
  step(kT0 + 2000, 0);
  EXPECT_NEAR(target(), 2'125'000, 1);
}

TEST_F(RateControllerTest, NoGrowthWhileTheEncoderSendsLessThanHalfTheTarget) {
  make();
  attachPacer();
  for (int i = 0; i < 6; ++i) updateWithTraffic(kT0 + 200 * i, 10); // 480 kbps
  report(kT0 + 1200, 0);
  updateWithTraffic(kT0 + 1200, 10);
  EXPECT_EQ(target(), 2'500'000u);
  for (int i = 7; i < 12; ++i) updateWithTraffic(kT0 + 200 * i, 30); // 1.44 Mbps
  report(kT0 + 2400, 0);
  updateWithTraffic(kT0 + 2400, 30);
  EXPECT_NEAR(target(), 2'500'000 * std::pow(1.08, 1.2), 1);
}

TEST_F(RateControllerTest, BeforeTheFirstReportTheRateCreepsAfterThreeSeconds) {
  make();
  controller->update(kStartMs + 3000);
  EXPECT_EQ(target(), 2'500'000u);
  controller->update(kStartMs + 3200);
  EXPECT_NEAR(target(), 2'525'000, 1);
  controller->update(kStartMs + 3400);
  EXPECT_NEAR(target(), 2'550'250, 1);

  make();
  attachPacer(); // sends nothing: application-limited
  controller->update(kStartMs + 3200);
  controller->update(kStartMs + 3400);
  EXPECT_EQ(target(), 2'500'000u);
}

TEST_F(RateControllerTest, FeedbackSilenceHalvesTheTargetPerSecondButKeepsTheEstimate) {
  make();
  attachPacer();
  report(kT0, 10); // 3.9 % loss: neither cut nor growth
  for (int64_t t = kT0; t <= kT0 + 3000; t += 200) updateWithTraffic(t);
  EXPECT_EQ(target(), 2'500'000u);
  for (int64_t t = kT0 + 3200; t <= kT0 + 4000; t += 200) updateWithTraffic(t);
  EXPECT_EQ(target(), 1'250'000u);
  EXPECT_EQ(fps(), 15);
  for (int64_t t = kT0 + 4200; t <= kT0 + 5000; t += 200) updateWithTraffic(t);
  EXPECT_EQ(target(), 625'000u);
  for (int64_t t = kT0 + 5200; t <= kT0 + 7000; t += 200) updateWithTraffic(t);
  EXPECT_EQ(target(), 250'000u);
  EXPECT_EQ(pacer->rateBps(), 500'000u); // the pacer's floor

  report(kT0 + 7100, 10);
  updateWithTraffic(kT0 + 7200);
  EXPECT_EQ(target(), 2'500'000u);
  EXPECT_EQ(pacer->rateBps(), 4'000'000u);
}

TEST_F(RateControllerTest, SilenceWithoutTrafficIsNotCongestion) {
  make();
  attachPacer();
  report(kT0, 10);
  for (int64_t t = kT0; t <= kT0 + 6000; t += 200) controller->update(t);
  EXPECT_EQ(target(), 2'500'000u);
}

TEST_F(RateControllerTest, FallsOfMoreThanThirtyPercentAreTakenOncePerSecond) {
  make();
  attachPacer();
  report(kT0, 10);
  for (int64_t t = kT0; t <= kT0 + 800; t += 200) updateWithTraffic(t);
  updateWithTraffic(kT0 + 5000, 100); // two seconds of silence at once: a quarter
  EXPECT_EQ(target(), 625'000u);
  updateWithTraffic(kT0 + 5900);
  EXPECT_NEAR(target(), 437'500, 1); // 70 % of the previous target, not 2^-2.9
  updateWithTraffic(kT0 + 6100);
  EXPECT_NEAR(target(), 2'500'000 * std::pow(0.5, 3.1), 1);
}

TEST_F(RateControllerTest, FrameRateRisesOneStepAfterThreeSecondsWithHeadroom) {
  make();
  growTowardsThirtyFps();
  EXPECT_NEAR(target(), 1'750'000 * std::pow(1.08, 7), 1);
  EXPECT_EQ(fps(), 20);
  controller->update(kT0 + 9999);
  EXPECT_EQ(fps(), 20);
  controller->update(kT0 + 10'000);
  EXPECT_EQ(fps(), 30);
}

TEST_F(RateControllerTest, ADipBelowTheHeadroomRestartsTheFrameRateWait) {
  make();
  growTowardsThirtyFps();
  pictureLoss(2);
  step(kT0 + 8000, 0); // storm: 0.85x, below 1.2 x the 30 fps step
  for (int i = 9; i <= 11; ++i) {
    step(kT0 + 1000 * i, 0);
  }
  EXPECT_EQ(fps(), 20); // the first wait would have ended at kT0 + 10000
  controller->update(kT0 + 13'999);
  EXPECT_EQ(fps(), 20);
  controller->update(kT0 + 14'000);
  EXPECT_EQ(fps(), 30);
}

TEST_F(RateControllerTest, FrameRateRisesOnlyOneStepAtATime) {
  make({8'000'000, 1'000'000, 250'000, 1920, 1080});
  EXPECT_EQ(fps(), 10);
  for (int i = 0; i <= 3; ++i) {
    step(kT0 + 2000 * i, 0); // 1.1664x each; headroom for 15 from kT0 + 4000
  }
  EXPECT_EQ(RateController::fpsFor(target(), 1920, 1080), 20);
  controller->update(kT0 + 7000);
  EXPECT_EQ(fps(), 15);
}

TEST_F(RateControllerTest, PacerRateIsEightFifthsOfTheTargetWithAFloor) {
  make({8'000'000, 250'000, 250'000, 1920, 1080});
  AdaptivePacer& p = attachPacer();
  EXPECT_EQ(p.rateBps(), 500'000u);
  make({4'000'000'000u, 3'000'000'000u, 250'000, 1920, 1080});
  attachPacer();
  EXPECT_EQ(pacer->rateBps(), std::numeric_limits<uint32_t>::max()); // saturates, never wraps
  make();
  attachPacer();
  EXPECT_EQ(pacer->rateBps(), 4'000'000u);
}

TEST_F(RateControllerTest, PacerQueueDelayIsComputedWithoutOverflow) {
  make();
  EXPECT_EQ(controller->pacerQueueMs(), 0);
  auto frozen = std::make_shared<ManualClock>();
  frozen->freeze();
  pacer = std::make_shared<AdaptivePacer>(1'000'000, frozen);
  controller->setPacer(pacer);
  rtc::message_vector batch;
  for (int i = 0; i < 834; ++i) batch.push_back(rtc::make_message(1200));
  pacer->outgoing(batch, [](rtc::message_ptr) {});
  EXPECT_EQ(controller->pacerQueueMs(), 2001); // 1 000 800 bytes at 4 Mbps
}

TEST_F(RateControllerTest, PeriodicLineEveryFiveSecondsWithTheStatisticsAppended) {
  make();
  controller->setStatsProvider([] { return std::string(300, 's'); });
  controller->update(kT0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "cc: target=2500kbps fps=30 remb=0kbps loss=0.0% rtt=-1ms egress=0kbps pacerQ=0ms nacks=0 "
                      "plis=0 | " +
                          std::string(300, 's'));
  controller->update(kT0 + 4999); // also the first 1 % creep: no report yet
  EXPECT_EQ(lines.size(), 1u);

  RtcpFeedback& fb = controller->feedback();
  fb.rembBps = std::numeric_limits<uint64_t>::max();
  fb.rembAtMs = kT0 - 10'000; // too old for the first-REMB line
  fb.nackCount = std::numeric_limits<uint32_t>::max();
  pictureLoss(7);
  step(kT0 + 5000, 26, 9999);
  ASSERT_EQ(lines.size(), 2u);
  const std::string& line = lines[1];
  const size_t bar = line.find(" | ");
  ASSERT_NE(bar, std::string::npos);
  EXPECT_LE(bar, 255u);
  EXPECT_EQ(line.substr(0, bar), "cc: target=1767kbps fps=20 remb=18446744073709551kbps loss=10.2% rtt=9999ms "
                                 "egress=0kbps pacerQ=0ms nacks=4294967295 plis=7");
  EXPECT_EQ(line.substr(bar + 3), std::string(300, 's'));
}

TEST_F(RateControllerTest, WithoutALogCallbackNothingIsLogged) {
  controller = std::make_shared<RateController>(kConfig, nullptr, clock);
  controller->feedback().rembBps = 1;
  controller->feedback().rembAtMs = kT0;
  controller->update(kT0); // must not call an empty callback
  EXPECT_EQ(target(), 2'500'000u);
}

TEST(RateControllerThread, UpdatesEvery200MsWhileFeedbackArrivesConcurrently) {
  auto controller = std::make_shared<RateController>(kConfig, [](const std::string&) {});
  auto pacer = std::make_shared<AdaptivePacer>(3'000'000);
  controller->setPacer(pacer);
  FeedbackMonitor monitor(42, controller);
  controller->start();
  controller->start(); // no second thread
  pacer->setRate(1);   // only an update puts the controller's rate back

  std::atomic<bool> done{false};
  std::thread transport([&] {
    const auto rr = testing::receiverReport({{.ssrc = 42, .fraction = 0}});
    const auto pli = testing::pictureLoss();
    while (!done) {
      monitor.parseRtcp(rr.data(), rr.size(), systemClock()->steadyMs());
      monitor.parseRtcp(pli.data(), pli.size(), systemClock()->steadyMs());
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  std::thread encoder([&] {
    while (!done) {
      (void)controller->targetBitrate();
      (void)controller->targetFrameRate();
      (void)controller->takeKeyframeRequest();
      (void)controller->pacerQueueMs();
      rtc::message_vector packets{rtc::make_message(1200), rtc::make_message(1200)};
      pacer->outgoing(packets, [](rtc::message_ptr) {});
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  });
  waitFor([&] { return pacer->rateBps() >= 4'000'000; });
  done = true;
  transport.join();
  encoder.join();
  controller->stop();
  controller->stop();
  EXPECT_GE(controller->targetBitrate(), 2'500'000u);
}

} // namespace
} // namespace dravnok::remote
