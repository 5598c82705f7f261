#include "video/video_sender.h"

#include "loop_fakes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace dravnok::video {
namespace {

// A 90 kHz track whose RTP time starts just below 2^32.
class FakeTrack final : public VideoTrackPort {
public:
  bool open = true, throwOnSend = false;
  uint32_t start = 4'294'964'000u, timestamp = 0, lastReported = start;
  int reportRequests = 0, sends = 0;

  bool ready() override { return open; }
  uint32_t startTimestamp() override { return start; }
  uint32_t secondsToTimestamp(double seconds) override { return static_cast<uint32_t>(std::llround(seconds * 90000)); }
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

class VideoSenderTest : public ::testing::Test {
protected:
  // The RTP time after the start for a picture stamped `ns` on the loop clock.
  uint32_t send(int64_t ns, bool key = false, size_t length = 100) {
    const uint8_t byte = 0;
    sender.send(&track, &byte, length, key, ns);
    return track.timestamp - track.start;
  }

  FakeTrack track;
  std::vector<std::string> lines;
  testing::ManualClock clock;
  VideoSender sender{
      clock, [this](const std::string& level, const std::string& text) { lines.push_back(level + " " + text); }};
};

TEST_F(VideoSenderTest, RtpTimeFollowsCaptureTimeAlwaysIncreasesAndIsReportedEachSecond) {
  clock.now = 1'100'000'000;
  // (capture time in ns, RTP time after the start, sender reports asked for)
  const std::tuple<int64_t, uint32_t, int> frames[] = {
      {1'000'000'000, 0, 0},
      {1'033'333'333, 3000, 0},  // 30 fps on a 90 kHz clock
      {1'066'666'667, 6000, 0},  // wraps past 2^32
      {1'066'666'667, 6001, 0},  // the same capture time again: one later
      {1'010'000'000, 6002, 0},  // an older one: one later too
      {1, 6003, 0},              // only 0 means "no capture time"
      {0, 9000, 0},              // no capture time: the loop clock is read
      {2'000'000'000, 90000, 0}, // a second since the start: no report
      {2'000'100'000, 90009, 1}, // more than a second: a report
      {2'500'000'000, 135000, 1}};
  for (const auto& [ns, rtp, reports] : frames)
    EXPECT_EQ(std::pair(send(ns), track.reportRequests), std::pair(rtp, reports)) << ns;
}

TEST_F(VideoSenderTest, LogsTheStreamComingUp) {
  track.open = false;
  send(1'000'000'000, true);
  send(1'033'333'333);
  EXPECT_EQ(lines, (std::vector<std::string>{"info encoder is producing frames but the video track is not open yet"}));
  EXPECT_EQ(std::pair(sender.framesBeforeOpen(), track.sends), std::pair(size_t{2}, 0));

  lines.clear();
  track.open = true;
  int64_t t = 2'000'000'000;
  for (int frame = 1; frame <= 300; ++frame)
    send(t += 33'333'333, frame == 1 || frame == 10 || frame % 50 == 0, frame == 1 ? 5000 : 100);
  // The first five key frames (frames 1, 10, 50, 100, 150), then every
  // 150th frame, where the key-frame line takes precedence (frame 150).
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "info FIRST video frame sent to track (len=5000, keyframe=yes)", "info keyframe #2 sent (len=100)",
                "info keyframe #3 sent (len=100)", "info keyframe #4 sent (len=100)", "info keyframe #5 sent (len=100)",
                "info video: 300 frames sent, 8 keyframes, rtpTs=" + std::to_string(track.timestamp)}));

  // A failing send is logged and not counted.
  track.throwOnSend = true;
  send(t += 33'333'333);
  EXPECT_EQ(lines.back(), "warn track send failed: closed");
  EXPECT_EQ(sender.framesSent(), 300u);
}

} // namespace
} // namespace dravnok::video
