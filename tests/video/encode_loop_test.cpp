#include "video/encode_loop.h"

#include "loop_fakes.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <string>

namespace dravnok::video {
namespace {

using namespace testing;

struct LoopHarness {
  ManualClock clock;
  ScriptedScreen screen{clock};
  RecordingEncoder encoder{clock};
  std::shared_ptr<SettableRate> rate = std::make_shared<SettableRate>();
  EncodeLoop loop{encoder, clock, 64, 32, 30, 92};
  std::vector<std::pair<int64_t, bool>> outputs; // (ms, key frame)

  LoopHarness() {
    loop.attachSource(screen);
    loop.setRateSource(rate);
    loop.setFrameSink([this](const uint8_t*, size_t, bool key, int64_t) { outputs.emplace_back(clock.ms(), key); });
  }
  void runFor(int64_t ms) {
    const int64_t end = clock.now + ms * 1'000'000;
    while (clock.now < end) loop.runPass();
  }
  std::vector<int64_t> keyFrameTimes() const {
    std::vector<int64_t> times;
    for (const auto& [ms, key] : outputs)
      if (key) times.push_back(ms);
    return times;
  }
};

TEST(EncodeLoop, NothingHappensUntilActiveThenTheFirstOutputIsAKeyFrame) {
  LoopHarness h;
  h.runFor(500);
  EXPECT_EQ(h.screen.acquisitions, 0);
  EXPECT_TRUE(h.outputs.empty());

  h.loop.setActive(true);
  h.runFor(200);
  ASSERT_GE(h.outputs.size(), 5u);
  EXPECT_TRUE(h.outputs.front().second);
  EXPECT_EQ(h.keyFrameTimes().size(), 1u);
  // Key frames are encoded below the running quality, which is restored.
  EXPECT_EQ(h.encoder.calls.front().quality, 70);
  EXPECT_EQ(h.encoder.calls.back().quality, 92);
}

TEST(EncodeLoop, NonUrgentRequestsWaitOneSecondAfterTheLastKeyFrame) {
  LoopHarness h;
  h.loop.setActive(true);
  h.runFor(100);
  ASSERT_EQ(h.keyFrameTimes().size(), 1u);
  h.runFor(2000); // well clear of the activation key frame

  h.rate->keyframe = true; // a picture-loss request
  h.runFor(300);
  h.rate->keyframe = true;
  h.runFor(1500);
  const auto keys = h.keyFrameTimes();
  ASSERT_EQ(keys.size(), 3u);
  // The second request is served once a second has passed since the first
  // IDR, within one frame interval.
  EXPECT_GE(keys[2] - keys[1], 1000);
  EXPECT_LE(keys[2] - keys[1], 1000 + 34);

  // An urgent request does not wait.
  h.loop.requestKeyFrame(true);
  h.runFor(40);
  EXPECT_EQ(h.keyFrameTimes().size(), 4u);
}

TEST(EncodeLoop, StaticScreenIsAnsweredFromTheLastPicture) {
  LoopHarness h;
  h.rate->bitrate = 600'000; // refine is not worth it at this rate
  h.loop.setActive(true);
  h.runFor(100);
  h.screen.changing = false;
  const int conversions = h.screen.conversions;
  h.runFor(1500);

  h.rate->keyframe = true;
  h.runFor(100);
  EXPECT_EQ(h.keyFrameTimes().size(), 2u);
  EXPECT_EQ(h.screen.conversions, conversions); // no new capture
  EXPECT_EQ(h.encoder.calls.back().quality, 50);
  EXPECT_NE(h.loop.statisticsLine().find("cached=1 refine=0"), std::string::npos);
}

TEST(EncodeLoop, RefinesAStillPictureOnceAndNoMoreThanEveryTwoAndAHalfSeconds) {
  LoopHarness h;
  h.loop.setActive(true);
  h.runFor(100);
  h.screen.changing = false;
  const int64_t lastEncode = h.encoder.calls.back().atMs;
  h.runFor(5000);
  // The last picture was a delta at 92, nothing to refine.
  EXPECT_EQ(h.encoder.calls.back().atMs, lastEncode);

  // A key frame on the still screen (quality 70) is followed by one refine
  // 800 ms later at full quality, and then nothing.
  const size_t before = h.encoder.calls.size();
  h.loop.requestKeyFrame(true);
  h.runFor(2000);
  ASSERT_EQ(h.encoder.calls.size(), before + 2);
  const EncodeCall idr = h.encoder.calls[before];
  const EncodeCall refine = h.encoder.calls[before + 1];
  EXPECT_TRUE(idr.forced);
  EXPECT_EQ(idr.quality, 70);
  EXPECT_FALSE(refine.forced);
  EXPECT_EQ(refine.quality, 92);
  EXPECT_GE(refine.atMs - idr.atMs, 800);
  EXPECT_LE(refine.atMs - idr.atMs, 850);

  // Another low-quality key frame right away: its refine waits for the
  // 2.5 s spacing.
  h.loop.requestKeyFrame(true);
  h.runFor(4000);
  ASSERT_EQ(h.encoder.calls.size(), before + 4);
  const EncodeCall secondRefine = h.encoder.calls.back();
  EXPECT_FALSE(secondRefine.forced);
  EXPECT_GE(secondRefine.atMs - refine.atMs, 2500);
  EXPECT_LE(secondRefine.atMs - refine.atMs, 2550);
}

TEST(EncodeLoop, OvershootLowersQualityToTheFloorThenTheFrameRate) {
  LoopHarness h;
  // 1.3 Mbit/s whatever the frame rate, measured over a full second before
  // the target appears.
  h.encoder.deltaBytes = [&] { return static_cast<size_t>(1'300'000 / 8 / h.loop.frameRate()); };
  h.loop.setActive(true);
  h.runFor(1500);
  h.rate->bitrate = 600'000;

  std::vector<int32_t> qualities{h.loop.quality()};
  std::vector<std::pair<int64_t, int32_t>> caps{{h.clock.ms(), h.loop.fpsCap()}};
  for (int i = 0; i < 12'000 / 5; ++i) {
    h.runFor(5);
    if (h.loop.quality() != qualities.back()) qualities.push_back(h.loop.quality());
    if (h.loop.fpsCap() != caps.back().second) caps.emplace_back(h.clock.ms(), h.loop.fpsCap());
  }
  // Capped at 60 and lowered by 10 in the same step, then to the floor.
  EXPECT_EQ(qualities, (std::vector<int32_t>{92, 50, 40}));
  ASSERT_EQ(caps.size(), 4u);
  EXPECT_EQ(caps[1].second, 20);
  EXPECT_EQ(caps[2].second, 15);
  EXPECT_EQ(caps[3].second, 10);
  EXPECT_GE(caps[2].first - caps[1].first, 1500);
  EXPECT_GE(caps[3].first - caps[2].first, 1500);
}

TEST(EncodeLoop, HeadroomRaisesQualityThenTheFrameRateCap) {
  LoopHarness h;
  h.rate->bitrate = 600'000;
  h.encoder.deltaBytes = [&] { return static_cast<size_t>(1'300'000 / 8 / h.loop.frameRate()); };
  h.loop.setActive(true);
  h.runFor(12'000);
  ASSERT_EQ(h.loop.fpsCap(), 10);
  ASSERT_EQ(h.loop.quality(), 40);

  h.rate->bitrate = 5'000'000;
  h.encoder.deltaBytes = [&] { return static_cast<size_t>(2'000'000 / 8 / h.loop.frameRate()); };
  std::vector<std::pair<int64_t, int32_t>> caps{{h.clock.ms(), 10}};
  int64_t reached92 = 0;
  const int64_t start = h.clock.ms();
  for (int i = 0; i < 20'000 / 5; ++i) {
    h.runFor(5);
    if (h.loop.fpsCap() != caps.back().second) caps.emplace_back(h.clock.ms(), h.loop.fpsCap());
    if (!reached92 && h.loop.quality() == 92) reached92 = h.clock.ms();
  }
  ASSERT_EQ(caps.size(), 4u);
  EXPECT_EQ(caps[1].second, 15);
  EXPECT_EQ(caps[2].second, 20);
  EXPECT_EQ(caps[3].second, 30);
  EXPECT_GE(caps[1].first - start, 3000);
  EXPECT_GE(caps[2].first - caps[1].first, 3000);
  EXPECT_GE(caps[3].first - caps[2].first, 3000);
  // 40 to 92 in steps of 4 at most one a second (fewer while the cap moves).
  EXPECT_GE(reached92 - start, 12'000);
  EXPECT_EQ(h.loop.quality(), 92);
}

TEST(EncodeLoop, PacerBacklogSkipsCapture) {
  LoopHarness h;
  h.loop.setActive(true);
  h.runFor(100);
  h.rate->pacerMs = 200;
  const int acquisitions = h.screen.acquisitions;
  const int64_t before = h.clock.ms();
  h.loop.statisticsLine();
  for (int i = 0; i < 10; ++i) h.loop.runPass();
  EXPECT_EQ(h.screen.acquisitions, acquisitions);
  EXPECT_LE(h.clock.ms() - before, 10 * 8 + 34);
  EXPECT_NE(h.loop.statisticsLine().find("skip=10 "), std::string::npos);

  h.rate->pacerMs = 150;
  h.runFor(100);
  EXPECT_GT(h.screen.acquisitions, acquisitions);
}

TEST(EncodeLoop, FrameRateNeverFallsBelowFive) {
  LoopHarness h;
  h.rate->fps = 3;
  EXPECT_EQ(h.loop.frameRate(), 5);
  h.loop.setActive(true);
  h.runFor(2000);
  EXPECT_NEAR(static_cast<double>(h.outputs.size()), 10.0, 1.0);
}

TEST(EncodeLoop, AsynchronousEncoderQueuesPicturesAndDeliversFromItsOwnThread) {
  LoopHarness h;
  h.encoder.async = true;
  h.rate->bitrate = 600'000;
  h.loop.beginStreaming();
  ASSERT_TRUE(h.encoder.streamOutput);
  h.loop.setActive(true);
  h.runFor(100);
  ASSERT_GE(h.encoder.calls.size(), 3u);
  // The key frame is forced on the queued picture without lowering quality:
  // the encoder applies it to whichever picture it takes next.
  EXPECT_TRUE(h.encoder.calls.front().forced);
  EXPECT_EQ(h.encoder.calls.front().quality, 60); // the 600 kbps ceiling, not the key-frame quality
  EXPECT_EQ(h.loop.lastIdrMs(), h.encoder.calls.front().atMs);
  EXPECT_TRUE(h.outputs.empty()); // nothing arrives on the loop's own pass

  const uint8_t unit[3] = {0, 0, 1};
  h.encoder.streamOutput(unit, sizeof unit, true, 1234);
  h.encoder.streamOutput(unit, sizeof unit, false, 1300);
  ASSERT_EQ(h.outputs.size(), 2u);
  EXPECT_NE(h.loop.statisticsLine().find("idr=1"), std::string::npos);

  // A still screen: no refine, and a picture-loss request is not answered
  // by re-encoding the last picture but by a fresh capture.
  h.screen.changing = false;
  const size_t queued = h.encoder.calls.size();
  h.runFor(4000);
  EXPECT_EQ(h.encoder.calls.size(), queued);
  h.rate->keyframe = true;
  h.runFor(200);
  EXPECT_EQ(h.screen.freshRequests, 1);
  ASSERT_EQ(h.encoder.calls.size(), queued + 1);
  EXPECT_TRUE(h.encoder.calls[queued].forced);
}

TEST(EncodeLoop, KeyFrameWithoutAnyPictureAsksTheCapturerForAFreshOne) {
  LoopHarness h;
  h.screen.changing = false;
  h.loop.setActive(true);
  h.runFor(50);
  EXPECT_GE(h.screen.freshRequests, 1);
  ASSERT_FALSE(h.outputs.empty());
  EXPECT_TRUE(h.outputs.front().second);
}

} // namespace
} // namespace dravnok::video
