// The encode loop pass by pass on a clock the test sets: key frames, the
// answers to a still screen, and the adaptation of quality and frame-rate cap
// to the target bitrate as one table of scenarios.
#include "video/encode_loop.h"
#include "video/encoder_config.h"

#include "loop_fakes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace dravnok::video {
namespace {

using namespace testing;

class EncodeLoopTest : public ::testing::Test {
protected:
  void SetUp() override { make(); }
  void make(int32_t fps = 30, int32_t quality = 92) {
    clock.now = 10'000'000'000;
    encoder.calls.clear();
    outputs.clear();
    screen.changing = true;
    loop = std::make_unique<EncodeLoop>(encoder, clock, 64, 32, fps, quality);
    loop->attachSource(screen);
    loop->setRateSource(rate);
    loop->setFrameSink([this](const uint8_t*, size_t, bool key, int64_t) { outputs.emplace_back(clock.ms(), key); });
  }
  void runFor(int64_t ms) {
    for (const int64_t end = clock.now + ms * 1'000'000; clock.now < end;) loop->runPass();
  }
  // Since the first frame.
  std::vector<int64_t> keyFrameTimes() const {
    std::vector<int64_t> times;
    for (const auto& [ms, key] : outputs)
      if (key) times.push_back(ms - outputs.front().first);
    return times;
  }

  ManualClock clock;
  ScriptedScreen screen{clock};
  RecordingEncoder encoder{clock};
  std::shared_ptr<SettableRate> rate = std::make_shared<SettableRate>();
  std::unique_ptr<EncodeLoop> loop;
  std::vector<std::pair<int64_t, bool>> outputs; // (ms, key frame)
};

TEST_F(EncodeLoopTest, EncoderNumbersFollowTheTarget) {
  // (target, quality ceiling under 92, under 80, key-frame quality)
  const std::tuple<uint32_t, int32_t, int32_t, int32_t> byTarget[] = {
      {0, 92, 80, 70},         {999'999, 60, 60, 50},   {1'000'000, 72, 72, 60},
      {1'999'999, 72, 72, 60}, {2'000'000, 84, 80, 60}, {2'499'999, 84, 80, 60},
      {2'500'000, 84, 80, 70}, {3'999'999, 84, 80, 70}, {4'000'000, 92, 80, 70}};
  for (const auto& [target, ceiling, lowCeiling, key] : byTarget) {
    EXPECT_EQ(qualityCeiling(target, 92), ceiling) << target;
    EXPECT_EQ(qualityCeiling(target, 80), lowCeiling) << target;
    EXPECT_EQ(keyFrameQuality(target), key) << target;
  }
  EXPECT_EQ(qualityCeiling(4'000'000, 100), 92);
  // 0.13 bits per pixel per frame between 2 and 8 Mbit/s; frame rate 0 counts as 1.
  const std::tuple<int32_t, int32_t, int32_t, int32_t> start[] = {{1920, 1080, 30, 8'000'000},
                                                                  {1280, 720, 15, 2'000'000},
                                                                  {1280, 720, 20, 2'396'160},
                                                                  {3840, 2160, 0, 2'000'000},
                                                                  {20'000, 1000, 0, 2'600'000}};
  for (const auto& [w, h, fps, bps] : start) EXPECT_EQ(startBitrate(w, h, fps), bps) << w << "x" << h << "@" << fps;
  const std::pair<int32_t, int32_t> even[] = {{1921, 1920}, {1080, 1080}, {1, 2}, {3, 2}, {-5, 2}};
  for (const auto& [in, out] : even) EXPECT_EQ(evenEncodeDimension(in), out) << in;
  const std::tuple<int32_t, int32_t, int32_t, int32_t> rates[] = {
      {30, 25, 30, 25}, {20, 30, 30, 20}, {30, 30, 15, 15}, {3, 30, 30, 5}, {30, 30, 4, 5}};
  for (const auto& [controller, configured, cap, fps] : rates)
    EXPECT_EQ(currentFrameRate(controller, configured, cap), fps) << controller << "/" << configured << "/" << cap;
}

// A phase of an adaptation scenario: the target and what the encoder makes.
struct Phase {
  uint32_t target;
  double producedBps;
  int64_t ms;
};

struct Adaptation {
  const char* name;
  int32_t fps, quality;
  std::vector<Phase> phases;
  // Each change as "ms:quality/cap", ms since the loop became active.
  const char* changes;
};

TEST_F(EncodeLoopTest, QualityAndFrameRateCapFollowTheTarget) {
  // (name, frame rate, quality, phases, changes)
  // clang-format off
  const std::vector<Adaptation> scenarios = {
      {"between 0.6 and 1.15 of the target only the quality ceiling applies", 30, 92,
       {{1'500'000, 1'400'000, 3000}}, "0:72/30"},
      {"above 1.15x quality steps down by 5 every 300 ms, at the floor the cap falls", 10, 92,
       {{2'000'000, 2'400'000, 4000}},
       "0:84/30 1200:79/30 1500:74/30 1800:69/30 2100:64/30 2400:59/30 2700:54/30 3000:49/30 3300:44/30 3600:40/20"},
      {"exactly twice the target is still a step of 5", 20, 92,
       {{2'000'000, 4'000'000, 2000}}, "0:84/30 750:79/30 1250:74/30 1750:69/30"},
      {"above twice the target quality steps down by 10", 20, 92,
       {{2'000'000, 4'200'000, 4000}}, "0:84/30 750:79/30 1250:69/30 1750:59/30 2250:49/30 2750:40/20"},
      {"quality within 3 of the floor counts as the floor for the cap", 10, 84,
       {{4'000'000, 8'400'000, 3000}}, "300:88/30 900:83/30 1200:73/30 1500:63/30 1800:53/30 2100:43/20 2400:40/20"},
      {"a second without pictures starts the overshoot's second again", 20, 40,
       {{600'000, 15'000'000, 2000}, {600'000, 0, 1500}, {600'000, 15'000'000, 2000}},
       "1250:40/20 2750:40/15 4883:40/10"},
      {"below 0.6x quality rises by 4 a second up to the ceiling", 20, 40,
       {{5'000'000, 2'000'000, 14000}},
       "250:44/30 1250:48/30 2250:52/30 3250:56/30 4250:60/30 5250:64/30 6250:68/30 7250:72/30 8250:76/30 "
       "9250:80/30 10250:84/30 11250:88/30 12250:92/30"},
      {"at the floor a second of overshoot cuts the cap a step per 1.5 s; 3 s below 0.6x raise it, 3 s apart", 30, 40,
       {{600'000, 1'300'000, 8000}, {5'000'000, 2'000'000, 9500}},
       "266:44/30 799:40/30 1866:40/20 3366:40/15 4966:40/10 8266:44/10 9466:48/10 10666:52/10 11266:52/15 "
       "11799:56/15 12866:60/15 13933:64/15 14466:64/20 14966:68/20 15966:72/20 16966:76/20 17466:76/30"},
  };
  // clang-format on
  for (const Adaptation& s : scenarios) {
    SCOPED_TRACE(s.name);
    make(s.fps, s.quality);
    loop->setActive(true);
    const int64_t start = clock.ms();
    std::string changes;
    std::pair<int32_t, int32_t> last{loop->quality(), loop->fpsCap()};
    for (const Phase& phase : s.phases) {
      rate->bitrate = phase.target;
      // Delta frames that add up to the bit rate at whatever frame rate the loop runs.
      encoder.deltaBytes = [&] { return static_cast<size_t>(phase.producedBps / 8 / loop->frameRate()); };
      for (const int64_t end = clock.now + phase.ms * 1'000'000; clock.now < end;) {
        loop->runPass();
        if (std::pair{loop->quality(), loop->fpsCap()} != last) {
          last = {loop->quality(), loop->fpsCap()};
          changes += (changes.empty() ? "" : " ") + std::to_string(clock.ms() - start) + ":" +
                     std::to_string(last.first) + "/" + std::to_string(last.second);
        }
      }
    }
    EXPECT_EQ(changes, std::string(s.changes));
  }
}

TEST_F(EncodeLoopTest, KeyFramesComeAtActivationBelowTheRunningQualityAndNonUrgentOnesWaitASecond) {
  make(20);
  runFor(500); // inactive
  EXPECT_EQ(screen.acquisitions, 0);
  encoder.encodeNs = 1'000'000;
  loop->setActive(true);
  loop->statisticsLine();
  runFor(2000);
  // Frames at 0, 50, ... 2000 ms: 40 of 1000 bytes after a key frame of 4000, 1 ms to encode each.
  EXPECT_NE(loop->statisticsLine().find("enc fps=20.5 q=92 fpscap=20 kbps=176 idr=1 cached=0 refine=0 skip=0 "
                                        "acq=0.0ms conv=0.0ms enc=1.0ms maxloop=1ms"),
            std::string::npos);
  encoder.encodeNs = 0;
  EXPECT_EQ(std::pair(encoder.calls.front().quality, encoder.calls.back().quality), std::pair(70, 92));

  // Picture-loss requests: the second waits a second after the first's key
  // frame; an urgent request does not wait.
  runFor(2000);
  rate->keyframe = true;
  runFor(300);
  rate->keyframe = true;
  runFor(1500);
  loop->requestKeyFrame(true);
  runFor(50);
  EXPECT_EQ(keyFrameTimes(), (std::vector<int64_t>{0, 4100, 5100, 5900}));
}

TEST_F(EncodeLoopTest, AStillScreenIsAnsweredFromTheLastPicture) {
  // The first key frame with no picture at all asks for a fresh capture.
  screen.changing = false;
  rate->bitrate = 600'000;
  loop->setActive(true);
  runFor(50);
  EXPECT_EQ(std::pair(screen.freshRequests, keyFrameTimes()), std::pair(1, std::vector<int64_t>{0}));
  screen.changing = true;
  runFor(100);
  screen.changing = false;
  const int conversions = screen.conversions;
  runFor(1500);
  // A frame interval (within 5..50 ms) to wait for a change; every capture released.
  EXPECT_EQ(std::pair(screen.lastTimeoutMs, screen.releases), std::pair(33, screen.acquisitions));
  rate->keyframe = true;
  loop->runPass();
  EXPECT_EQ(screen.lastTimeoutMs, 0); // a due key frame does not wait for a change
  runFor(100);
  // No new capture: the last picture again, at the key-frame quality.
  EXPECT_EQ(
      std::tuple(keyFrameTimes().size(), screen.conversions, encoder.calls.back().quality, encoder.pictures.back()),
      std::tuple(2u, conversions, 50, static_cast<uint8_t>(conversions)));
  EXPECT_NE(loop->statisticsLine().find("cached=1 refine=0"), std::string::npos);

  rate->fps = 5; // the time-out stops at 50 ms, and the encoder is told the rate
  runFor(1000);
  EXPECT_EQ(std::pair(screen.lastTimeoutMs, encoder.frameRate), std::pair(50, 5));
}

// The fine system timer is held while the loop runs, once however often it
// starts or stops.
TEST_F(EncodeLoopTest, HoldsTheFineTimerWhileItRuns) {
  for (int i = 0; i < 2; ++i) loop->start(screen);
  EXPECT_EQ(clock.fineTimerHolds, 1);
  for (int i = 0; i < 2; ++i) loop->stop();
  EXPECT_EQ(clock.fineTimerHolds, 0);
}

TEST_F(EncodeLoopTest, AStillPictureBelowTheCeilingIsRefinedOnce) {
  // (target, quality of the last picture, quality of the refine or 0 for none)
  const std::tuple<uint32_t, int32_t, int32_t> cases[] = {
      {1'999'999, 92, 0}, {0, 88, 0}, {2'000'000, 92, 92}, {0, 87, 92}};
  for (const auto& [target, quality, refined] : cases) {
    make(30, quality);
    rate->bitrate = target;
    loop->setActive(true);
    runFor(100);
    screen.changing = false;
    const EncodeCall last = encoder.calls.back();
    encoder.calls.clear();
    runFor(1500);
    // 0.8 s after the last picture, and the quality back after it.
    const std::vector<EncodeCall> expected{{last.atMs + 833, false, refined}};
    EXPECT_EQ(encoder.calls, refined ? expected : std::vector<EncodeCall>{}) << target << "/" << quality;
    EXPECT_EQ(loop->quality(), std::min(quality, qualityCeiling(target, 92)));
  }
  // A key frame (at 70) is refined, but no sooner than 2.5 s after the last refine.
  const EncodeCall refine = encoder.calls.back();
  encoder.calls.clear();
  loop->requestKeyFrame(true);
  runFor(4000);
  EXPECT_EQ(encoder.calls, (std::vector<EncodeCall>{{refine.atMs + 700, true, 70}, {refine.atMs + 2500, false, 92}}));
}

TEST_F(EncodeLoopTest, APacerBacklogSkipsCapture) {
  loop->setActive(true);
  runFor(100);
  rate->pacerMs = 151;
  const int acquisitions = screen.acquisitions;
  const int64_t before = clock.ms();
  loop->statisticsLine();
  for (int i = 0; i < 10; ++i) loop->runPass();
  // No capture; 8 ms waits after the pass's own pacing.
  EXPECT_EQ(std::pair(screen.acquisitions, clock.ms() - before), std::pair(acquisitions, int64_t{10 * 8 + 33}));
  EXPECT_NE(loop->statisticsLine().find("skip=10 "), std::string::npos);
  rate->pacerMs = 150;
  loop->runPass();
  EXPECT_EQ(screen.acquisitions, acquisitions + 1);
}

TEST_F(EncodeLoopTest, AnAsynchronousEncoderQueuesPicturesAndDeliversFromItsOwnThread) {
  encoder.async = true;
  rate->bitrate = 600'000;
  loop->beginStreaming();
  loop->setActive(true);
  runFor(100);
  ASSERT_GE(encoder.calls.size(), 3u);
  // The key frame is forced on the queued picture at the 600 kbps ceiling,
  // not the key-frame quality: the encoder applies it to whichever picture
  // it takes next.
  EXPECT_EQ(encoder.calls.front(), (EncodeCall{loop->lastIdrMs(), true, 60}));
  EXPECT_TRUE(outputs.empty());
  const uint8_t unit[3] = {0, 0, 1};
  clock.now += 5'000'000;
  encoder.streamOutput(unit, sizeof unit, true, 1234);
  EXPECT_EQ(loop->lastIdrMs(), clock.ms());
  encoder.streamOutput(unit, sizeof unit, false, 1300);
  encoder.streamOutput(unit, sizeof unit, true, 1400);
  EXPECT_EQ(outputs.size(), 3u);
  EXPECT_NE(loop->statisticsLine().find("idr=2"), std::string::npos);

  // A still screen: no refine, and a picture-loss request is answered by a
  // fresh capture, not by re-encoding.
  screen.changing = false;
  encoder.calls.clear();
  runFor(4000);
  EXPECT_TRUE(encoder.calls.empty());
  rate->keyframe = true;
  runFor(200);
  ASSERT_EQ(std::pair(screen.freshRequests, encoder.calls.size()), std::pair(1, size_t{1}));
  EXPECT_TRUE(encoder.calls[0].forced);
}

} // namespace
} // namespace dravnok::video
