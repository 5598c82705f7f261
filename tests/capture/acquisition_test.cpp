#include "capture/acquisition.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

using namespace dravnok::capture;

namespace {

struct FakeFrame {
  bool valid = false;
  std::string source; // "dd" or "copy"
};

// A duplication source driven by a script of AcquireNextFrame answers.
class FakeBackend : public CaptureBackend<FakeFrame> {
public:
  uint64_t now = 1000;
  bool open = true;
  bool opensSucceed = true;
  std::deque<DuplicatedFrame> answers;
  std::deque<bool> blackImages;
  bool screenChanged = true;
  bool imageReadable = true; // the held frame's texture can be had
  bool held = false;
  int opens = 0, releases = 0, copies = 0;
  std::vector<std::string> log;

  uint64_t tickCount() override { return now; }
  bool duplicationOpen() const override { return open; }
  bool openDuplicationForMonitor() override {
    EXPECT_FALSE(held) << "a frame of the old duplication is still held";
    ++opens;
    open = opensSucceed;
    return open;
  }
  void releaseDuplication() override { open = false; }
  DuplicatedFrame acquireNextFrame(int timeoutMs) override {
    log.push_back("acquire " + std::to_string(timeoutMs));
    DuplicatedFrame answer = answers.empty() ? DuplicatedFrame::TimedOut : answers.front();
    if (!answers.empty()) answers.pop_front();
    held = answer == DuplicatedFrame::Image || answer == DuplicatedFrame::PointerOnly;
    return answer;
  }
  void releaseHeldFrame() override {
    EXPECT_TRUE(held) << "ReleaseFrame without a held frame";
    held = false;
    ++releases;
  }
  bool takeHeldImage() override { return imageReadable; }
  bool heldImageIsBlack() override {
    bool black = !blackImages.empty() && blackImages.front();
    if (!blackImages.empty()) blackImages.pop_front();
    return black;
  }
  void deliverHeldImage(FakeFrame& out) override { out = {true, "dd"}; }
  bool captureScreenCopy(FakeFrame& out, bool skipUnchanged) override {
    ++copies;
    if (skipUnchanged && !screenChanged) return false;
    out = {true, "copy"};
    return true;
  }
  void setCaptureRectangle(const MonitorInfo& monitor) override {
    log.push_back("rect " + std::to_string(monitor.left));
  }
};

class AcquisitionTest : public ::testing::Test {
protected:
  FakeBackend backend;
  Acquisition<FakeFrame> acquisition{backend};

  FakeFrame acquire(int timeoutMs = 20) {
    FakeFrame frame{true, "stale"};
    acquisition.releaseFrame();
    acquisition.acquireFrame(frame, timeoutMs);
    return frame;
  }
};

} // namespace

TEST_F(AcquisitionTest, TimeOutsGiveOneFillInCopyOnlyWhileAFreshFrameIsNeeded) {
  acquisition.needFreshFrame = true;
  acquisition.skipUnchangedGdiFrames = true;
  backend.screenChanged = false; // a fill-in ignores the unchanged-image skip
  EXPECT_EQ(acquire().source, "copy");
  EXPECT_FALSE(acquisition.needFreshFrame);
  EXPECT_FALSE(acquire().valid);
  EXPECT_FALSE(acquire().valid);
  EXPECT_EQ(backend.copies, 1);
}

TEST_F(AcquisitionTest, PointerOnlyFramesAreReleasedAndYieldNothingUnlessFreshIsNeeded) {
  acquisition.needFreshFrame = false;
  backend.answers = {DuplicatedFrame::PointerOnly};
  EXPECT_FALSE(acquire().valid);
  EXPECT_EQ(backend.releases, 1);
  EXPECT_FALSE(acquisition.frameHeld);
  acquisition.needFreshFrame = true;
  backend.answers = {DuplicatedFrame::PointerOnly};
  EXPECT_EQ(acquire().source, "copy");
  EXPECT_EQ(backend.releases, 2);
}

TEST_F(AcquisitionTest, ImagesAreHeldUntilReleasedAndClearTheFreshFlag) {
  backend.answers = {DuplicatedFrame::Image, DuplicatedFrame::Image};
  FakeFrame frame;
  acquisition.acquireFrame(frame, 0);
  EXPECT_EQ(frame.source, "dd");
  EXPECT_TRUE(acquisition.frameHeld);
  EXPECT_FALSE(acquisition.needFreshFrame);
  acquisition.releaseFrame();
  EXPECT_EQ(backend.releases, 1);
  acquisition.releaseFrame(); // a second release does nothing
  EXPECT_EQ(backend.releases, 1);
  // A time-out of 0 or below polls; 1 ms is waited.
  acquisition.acquireFrame(frame, -5);
  EXPECT_EQ(backend.log.back(), "acquire 0");
  acquisition.acquireFrame(frame, 1);
  EXPECT_EQ(backend.log.back(), "acquire 1");
}

TEST_F(AcquisitionTest, AnImageWhoseTextureCannotBeHadIsReleasedAndYieldsNothing) {
  backend.answers = {DuplicatedFrame::Image};
  backend.imageReadable = false;
  EXPECT_FALSE(acquire().valid);
  EXPECT_EQ(backend.releases, 1);
  EXPECT_FALSE(acquisition.frameHeld);
  EXPECT_TRUE(acquisition.needFreshFrame);
}

TEST_F(AcquisitionTest, AccessLostReopensAtOnceAndAsksForAFreshImage) {
  acquisition.needFreshFrame = false;
  backend.answers = {DuplicatedFrame::AccessLost, DuplicatedFrame::TimedOut};
  EXPECT_FALSE(acquire().valid);
  EXPECT_EQ(backend.opens, 1);
  EXPECT_TRUE(backend.open);
  EXPECT_TRUE(acquisition.needFreshFrame);
  // A static screen is still shown after the desktop switch.
  EXPECT_EQ(acquire().source, "copy");
}

TEST_F(AcquisitionTest, FailedReopeningRetriesAfter500msAndCopiesTheScreenMeanwhile) {
  backend.opensSucceed = false;
  backend.answers = {DuplicatedFrame::AccessLost};
  EXPECT_FALSE(acquire().valid);
  EXPECT_EQ(acquisition.retryAfterTick, 1500u);
  backend.now = 1499;
  EXPECT_EQ(acquire().source, "copy");
  EXPECT_EQ(backend.opens, 1);
  backend.now = 1500;
  EXPECT_EQ(acquire().source, "copy"); // tried and failed again
  EXPECT_EQ(backend.opens, 2);
  EXPECT_EQ(acquisition.retryAfterTick, 2000u);
  backend.opensSucceed = true;
  backend.now = 2000;
  backend.answers = {DuplicatedFrame::Image};
  EXPECT_EQ(acquire().source, "dd");
  EXPECT_FALSE(acquisition.gdiMode);
}

TEST_F(AcquisitionTest, AClosedDuplicationIsOpenedAtOnceOnAFreshClock) {
  backend.now = 0;
  backend.open = false;
  backend.answers = {DuplicatedFrame::Image};
  EXPECT_EQ(acquire().source, "dd");
  EXPECT_EQ(backend.opens, 1);
}

TEST_F(AcquisitionTest, OtherFailuresCloseTheDuplicationUntilTheRetryTime) {
  backend.answers = {DuplicatedFrame::Failed};
  EXPECT_FALSE(acquire().valid);
  EXPECT_FALSE(backend.open);
  EXPECT_EQ(backend.opens, 0);
  EXPECT_EQ(acquire().source, "copy");
  EXPECT_EQ(backend.opens, 0);
}

TEST_F(AcquisitionTest, ThreeBlackImagesGiveUpDuplicationForGood) {
  acquisition.blackChecksLeft = kBlackChecksWhenUnproven;
  backend.answers = {DuplicatedFrame::Image, DuplicatedFrame::Image, DuplicatedFrame::Image};
  backend.blackImages = {true, true, true};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(acquire().source, "copy") << i;
  EXPECT_TRUE(acquisition.gdiMode);
  EXPECT_FALSE(backend.open);
  EXPECT_EQ(backend.releases, 3);
  // From now on only copies, even when a re-opening would work.
  backend.now += 10'000;
  EXPECT_EQ(acquire().source, "copy");
  EXPECT_EQ(backend.opens, 0);
}

TEST_F(AcquisitionTest, OneGoodImageEndsTheBlackChecks) {
  acquisition.blackChecksLeft = kBlackChecksWhenUnproven;
  backend.answers = {DuplicatedFrame::Image, DuplicatedFrame::Image, DuplicatedFrame::Image, DuplicatedFrame::Image};
  backend.blackImages = {true, false, true, true};
  EXPECT_EQ(acquire().source, "copy");
  EXPECT_FALSE(acquisition.frameHeld); // the black image is not kept while its copy is out
  EXPECT_EQ(backend.releases, 1);
  EXPECT_EQ(acquire().source, "dd");
  EXPECT_EQ(acquisition.blackChecksLeft, 0);
  EXPECT_EQ(acquire().source, "dd");
  EXPECT_EQ(acquire().source, "dd");
  EXPECT_FALSE(acquisition.gdiMode);
}

TEST_F(AcquisitionTest, MonitorRequestsAreCheckedAndOnlyTheNewestCounts) {
  acquisition.monitors = {{0, 0, 1920, 1080, true}, {-1920, 0, 1920, 1080, false}, {1920, 0, 1280, 1024, false}};
  EXPECT_FALSE(acquisition.requestMonitor(-1));
  EXPECT_FALSE(acquisition.requestMonitor(3));
  backend.answers = {DuplicatedFrame::Image, DuplicatedFrame::Image};
  FakeFrame frame;
  acquisition.acquireFrame(frame, 0); // still held when the switch comes
  EXPECT_TRUE(acquisition.requestMonitor(1));
  EXPECT_TRUE(acquisition.requestMonitor(2));
  acquisition.acquireFrame(frame, 0);
  EXPECT_EQ(frame.source, "dd");
  EXPECT_EQ(backend.releases, 1);
  EXPECT_EQ(acquisition.currentMonitor, 2);
  EXPECT_EQ(backend.opens, 1);
  EXPECT_THAT(backend.log, ::testing::Contains("rect 1920"));
  // The current monitor again: dropped.
  EXPECT_TRUE(acquisition.requestMonitor(2));
  acquire();
  EXPECT_EQ(backend.opens, 1);
}

TEST_F(AcquisitionTest, ASwitchThatCannotBeDuplicatedFallsBackToCopies) {
  acquisition.monitors = {{0, 0, 1920, 1080, true}, {1920, 0, 1080, 1920, false}};
  backend.opensSucceed = false; // rotated, or on another adapter
  acquisition.requestMonitor(1);
  EXPECT_EQ(acquire().source, "copy");
  EXPECT_TRUE(acquisition.gdiMode);
  // Back to the first monitor: still copies, no new duplication.
  backend.opensSucceed = true;
  acquisition.requestMonitor(0);
  EXPECT_EQ(acquire().source, "copy");
  EXPECT_EQ(backend.opens, 1);
}

TEST_F(AcquisitionTest, InitialProbeDecidesBetweenDuplicationAndCopies) {
  // A black first image: copies.
  backend.answers = {DuplicatedFrame::TimedOut, DuplicatedFrame::PointerOnly, DuplicatedFrame::Image};
  backend.blackImages = {true};
  EXPECT_FALSE(acquisition.keepDuplicationAfterProbe(1200, 100));
  EXPECT_FALSE(backend.open);
  EXPECT_FALSE(backend.held);
  EXPECT_EQ(backend.releases, 2); // the pointer-only frame and the image

  // A real image: duplication without further black checks.
  FakeBackend good;
  good.answers = {DuplicatedFrame::Image};
  Acquisition<FakeFrame> second(good);
  second.blackChecksLeft = kBlackChecksWhenUnproven;
  EXPECT_TRUE(second.keepDuplicationAfterProbe(1200, 100));
  EXPECT_EQ(second.blackChecksLeft, 0);
  EXPECT_TRUE(second.needFreshFrame);
  EXPECT_FALSE(good.held);

  // An image that cannot be read proves nothing black: duplication stays.
  FakeBackend unreadable;
  unreadable.answers = {DuplicatedFrame::Image};
  unreadable.blackImages = {true};
  unreadable.imageReadable = false;
  Acquisition<FakeFrame> third(unreadable);
  EXPECT_TRUE(third.keepDuplicationAfterProbe(1200, 100));
  EXPECT_TRUE(unreadable.open);
  EXPECT_EQ(unreadable.releases, 1);
}

TEST_F(AcquisitionTest, InitialProbeWithoutAnImageArmsThreeBlackChecks) {
  // The fake clock only moves when a time-out is answered.
  struct StaticScreen : FakeBackend {
    DuplicatedFrame acquireNextFrame(int timeoutMs) override {
      now += static_cast<uint64_t>(timeoutMs);
      return DuplicatedFrame::TimedOut;
    }
  } quiet;
  Acquisition<FakeFrame> probe(quiet);
  EXPECT_TRUE(probe.keepDuplicationAfterProbe(1200, 100));
  EXPECT_EQ(probe.blackChecksLeft, 3);
  EXPECT_EQ(quiet.now, 2200u);
}
