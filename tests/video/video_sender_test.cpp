#include "video/video_sender.h"

#include "loop_fakes.h"
#include "video/encode_loop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace dravnok::video {
namespace {

class FakeTrack final : public VideoTrackPort {
public:
  bool open = true;
  bool throwOnSend = false;
  uint32_t start = 4'294'964'000u; // the third frame wraps past 2^32
  uint32_t timestamp = 0;
  uint32_t lastReported = start;
  int reportRequests = 0;
  int sends = 0;

  bool ready() override { return open; }
  uint32_t startTimestamp() override { return start; }
  uint32_t secondsToTimestamp(double seconds) override {
    return static_cast<uint32_t>(static_cast<int64_t>(std::llround(seconds * 90000)));
  }
  double timestampToSeconds(uint32_t value) override { return value / 90000.0; }
  void setTimestamp(uint32_t value) override { timestamp = value; }
  bool hasReporter() override { return true; }
  uint32_t lastReportedTimestamp() override { return lastReported; }
  void requestReport() override {
    ++reportRequests;
    lastReported = timestamp;
  }
  void send(const uint8_t*, size_t) override {
    if (throwOnSend) throw std::runtime_error("closed");
    ++sends;
  }
};

// Times below are in microseconds, as the loop clock's nanoseconds / 1000.
struct SenderHarness {
  FakeTrack track;
  std::vector<std::string> lines;
  testing::ManualClock clock;
  VideoSender sender{
      clock, [this](const std::string& level, const std::string& text) { lines.push_back(level + " " + text); }};
  uint32_t send(int64_t us, bool key = false, size_t length = 100) {
    const uint8_t bytes[1] = {0};
    sender.send(&track, bytes, length, key, us * 1000);
    return track.timestamp;
  }
};

TEST(VideoSender, RtpTimeFollowsCaptureTimeAndAlwaysIncreases) {
  SenderHarness h;
  // 30 fps on a 90 kHz clock: 3000 per frame from the start timestamp.
  EXPECT_EQ(h.send(1'000'000), h.track.start);
  EXPECT_EQ(h.send(1'033'333) - h.track.start, 3000u);
  EXPECT_EQ(h.send(1'066'667) - h.track.start, 6000u); // wraps past 2^32
  // The same capture time again, then an older one: each still one later.
  EXPECT_EQ(h.send(1'066'667) - h.track.start, 6001u);
  EXPECT_EQ(h.send(1'010'000) - h.track.start, 6002u);
  // No capture time: the loop clock is read.
  h.clock.now = 1'100'000'000;
  EXPECT_EQ(h.send(0) - h.track.start, 9000u);
  // Only 0 means "no capture time": a stamp of 1 ns is one.
  SenderHarness one;
  const uint8_t byte = 0;
  one.sender.send(&one.track, &byte, 1, false, 1);
  one.sender.send(&one.track, &byte, 1, false, 1 + 33'333'333);
  EXPECT_EQ(one.track.timestamp - one.track.start, 3000u);
}

TEST(VideoSender, SenderReportIsRequestedAfterMoreThanASecondOfMediaTime) {
  SenderHarness h;
  h.send(1'000'000);
  h.send(2'000'000); // exactly one second
  EXPECT_EQ(h.track.reportRequests, 0);
  h.send(2'000'100);
  EXPECT_EQ(h.track.reportRequests, 1);
  h.send(2'500'000);
  EXPECT_EQ(h.track.reportRequests, 1);
}

TEST(VideoSender, LogsTheStreamComingUp) {
  SenderHarness h;
  h.track.open = false;
  h.send(1'000'000, true);
  h.send(1'033'333);
  EXPECT_EQ(h.lines,
            (std::vector<std::string>{"info encoder is producing frames but the video track is not open yet"}));
  EXPECT_EQ(h.sender.framesBeforeOpen(), 2u);
  EXPECT_EQ(h.track.sends, 0);

  h.lines.clear();
  h.track.open = true;
  int64_t t = 2'000'000;
  h.send(t, true, 5000);
  for (int frame = 2; frame <= 300; ++frame) h.send(t += 33'333, frame == 10 || frame == 150 || frame % 50 == 0, 100);
  // The first five key frames (frames 1, 10, 50, 100, 150), then every
  // 150th frame, where the key-frame line takes precedence (frame 150).
  EXPECT_EQ(h.lines,
            (std::vector<std::string>{
                "info FIRST video frame sent to track (len=5000, keyframe=yes)", "info keyframe #2 sent (len=100)",
                "info keyframe #3 sent (len=100)", "info keyframe #4 sent (len=100)", "info keyframe #5 sent (len=100)",
                "info video: 300 frames sent, 8 keyframes, rtpTs=" + std::to_string(h.track.timestamp)}));

  // A failing send is logged and not counted.
  h.track.throwOnSend = true;
  h.send(t += 33'333);
  EXPECT_EQ(h.lines.back(), "warn track send failed: closed");
  EXPECT_EQ(h.sender.framesSent(), 300u);
}

// The encode loop stamps pictures with its clock and the sender turns those
// stamps into RTP time: a second of the loop's clock must be 90 000 ticks,
// whatever units the platform's capture counter uses.
TEST(VideoSender, RtpClockRunsAtNinetyKilohertzOfTheLoopClock) {
  testing::ManualClock clock;
  testing::ScriptedScreen screen{clock};
  testing::RecordingEncoder encoder{clock};
  EncodeLoop loop{encoder, clock, 64, 32, 30, 92};
  FakeTrack track;
  VideoSender sender{clock, [](const std::string&, const std::string&) {}};
  std::vector<std::pair<int64_t, uint32_t>> stamps; // (loop ns, RTP time)
  loop.attachSource(screen);
  loop.setRateSource(std::make_shared<testing::SettableRate>());
  loop.setFrameSink([&](const uint8_t* data, size_t length, bool key, int64_t timestamp) {
    sender.send(&track, data, length, key, timestamp);
    stamps.emplace_back(clock.now, track.timestamp);
  });
  loop.setActive(true);
  for (const int64_t end = clock.now + 2'000'000'000; clock.now < end;) loop.runPass();
  ASSERT_GE(stamps.size(), 30u);
  const double seconds = static_cast<double>(stamps.back().first - stamps.front().first) / 1e9;
  const double ticks = static_cast<uint32_t>(stamps.back().second - stamps.front().second);
  EXPECT_NEAR(ticks / seconds, 90000.0, 900.0);
}

} // namespace
} // namespace dravnok::video
