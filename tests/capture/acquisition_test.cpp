#include "capture/acquisition.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

using namespace dravnok::capture;
using enum DuplicatedFrame;

namespace {

// A duplication source that answers AcquireNextFrame from a script, one
// letter a call: I an image, B a black image, P pointer only, L access lost,
// F failed, T a time-out (the clock moves on by it); after its end,
// time-outs. Every call that changes something is written to `log`; a frame
// is the name of its source.
class FakeBackend : public CaptureBackend<std::string> {
public:
  uint64_t now = 1000;
  bool open = true, opensSucceed = true, screenChanged = true, imageReadable = true, black = false;
  std::string script, log;
  int lastTimeoutMs = -1;

  void note(const std::string& what) { log += (log.empty() ? "" : " ") + what; }
  uint64_t tickCount() override { return now; }
  bool duplicationOpen() const override { return open; }
  bool openDuplicationForMonitor() override {
    open = opensSucceed;
    note(open ? "open" : "open-fails");
    return open;
  }
  void releaseDuplication() override {
    if (open) note("close");
    open = false;
  }
  DuplicatedFrame acquireNextFrame(int timeoutMs) override {
    static const std::map<char, std::pair<const char*, DuplicatedFrame>> answers = {
        {'I', {"image", Image}},     {'B', {"image", Image}},   {'P', {"pointer", PointerOnly}},
        {'L', {"lost", AccessLost}}, {'F', {"failed", Failed}}, {'T', {"timeout", TimedOut}}};
    lastTimeoutMs = timeoutMs;
    const char letter = script.empty() ? 'T' : script[0];
    if (letter == 'T') now += static_cast<uint64_t>(timeoutMs);
    script.erase(0, 1);
    black = letter == 'B';
    const auto& [name, answer] = answers.at(letter);
    note(name);
    return answer;
  }
  void releaseHeldFrame() override { note("release"); }
  bool takeHeldImage() override { return imageReadable; }
  bool heldImageIsBlack() override { return black; }
  void deliverHeldImage(std::string& out) override { out = "dd"; }
  bool captureScreenCopy(std::string& out, bool skipUnchanged) override {
    const bool skip = skipUnchanged && !screenChanged;
    note(skip ? "copy-unchanged" : "copy");
    if (!skip) out = "copy";
    return !skip;
  }
  void setCaptureRectangle(const MonitorInfo& monitor) override { note("rect " + std::to_string(monitor.left)); }
};

struct Rig {
  FakeBackend backend;
  Acquisition<std::string> acquisition{backend};

  // What `count` acquisitions gave, as the encode loop takes them ("-": nothing).
  std::string acquire(int count = 1) {
    std::string got;
    for (int i = 0; i < count; ++i) {
      std::string frame = "stale";
      acquisition.releaseFrame();
      acquisition.releaseFrame(); // a second release does nothing
      acquisition.acquireFrame(frame, 20);
      got += (i ? " " : "") + (frame.empty() ? "-" : frame);
    }
    return got;
  }
};

class AcquisitionTest : public ::testing::Test, public Rig {};

TEST(Acquisition, EachAnswerOfTheDuplicationGivesItsFrame) {
  struct Case {
    const char* name;
    const char* script;
    int acquisitions;
    const char* frames;
    const char* log;
    std::function<void(Rig&)> setup = [](Rig&) {};
  };
  const Case cases[] = {
      {"time-outs give one fill-in copy, even of an unchanged screen, only while a fresh frame is needed", "", 3,
       "copy - -", "timeout copy timeout timeout", [](Rig& r) { r.backend.screenChanged = false; }},
      {"a pointer-only frame is released and gives nothing", "P", 1, "-", "pointer release",
       [](Rig& r) { r.acquisition.needFreshFrame = false; }},
      {"a pointer-only frame while a fresh one is needed gives a copy", "P", 1, "copy", "pointer release copy"},
      {"an image is held until the next acquisition and clears the need for a fresh one", "IIT", 3, "dd dd -",
       "image release image release timeout"},
      {"an image whose texture cannot be had is released; a fresh frame is still needed", "I", 2, "- copy",
       "image release timeout copy", [](Rig& r) { r.backend.imageReadable = false; }},
      {"lost access reopens at once and asks for a fresh image", "L", 2, "- copy", "lost close open timeout copy",
       [](Rig& r) { r.acquisition.needFreshFrame = false; }},
      {"other failures close the duplication until the retry time", "F", 2, "- copy", "failed close copy"},
      {"a closed duplication is opened at once on a fresh clock", "I", 1, "dd", "open image",
       [](Rig& r) {
         r.backend.open = false;
         r.backend.now = 0;
       }},
      {"three black images give up the duplication for good", "BBB", 4, "copy copy copy copy",
       "image release copy image release copy image release close copy copy",
       [](Rig& r) { r.acquisition.blackChecksLeft = kBlackChecksWhenUnproven; }},
      {"one good image ends the black checks; a black one is not kept while its copy is out", "BIBB", 4,
       "copy dd dd dd", "image release copy image release image release image",
       [](Rig& r) { r.acquisition.blackChecksLeft = kBlackChecksWhenUnproven; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.backend.script = c.script;
    r.acquisition.skipUnchangedGdiFrames = true;
    c.setup(r);
    EXPECT_EQ(r.acquire(c.acquisitions), c.frames);
    EXPECT_EQ(r.backend.log, c.log);
  }
}

TEST_F(AcquisitionTest, TimeOutsBelowOneMsPoll) {
  for (const auto& [asked, waited] : {std::pair{-5, 0}, {0, 0}, {1, 1}}) {
    std::string frame;
    acquisition.acquireFrame(frame, asked);
    EXPECT_EQ(backend.lastTimeoutMs, waited) << asked;
  }
}

TEST_F(AcquisitionTest, FailedReopeningRetriesAfter500msAndCopiesTheScreenMeanwhile) {
  backend.opensSucceed = false;
  backend.script = "L";
  for (uint64_t now : {1000, 1499, 1500, 1999}) {
    backend.now = now;
    acquire();
  }
  backend.opensSucceed = true;
  backend.now = 2000;
  backend.script = "I";
  EXPECT_EQ(acquire(), "dd");
  EXPECT_EQ(backend.log, "lost close open-fails copy open-fails copy copy open image");
}

TEST_F(AcquisitionTest, MonitorRequestsAreCheckedAndOnlyTheNewestCounts) {
  acquisition.monitors = {{0, 0, 1920, 1080, true}, {-1920, 0, 1920, 1080, false}, {1920, 0, 1280, 1024, false}};
  EXPECT_FALSE(acquisition.requestMonitor(-1));
  EXPECT_FALSE(acquisition.requestMonitor(3));
  backend.script = "I";
  std::string frame;
  acquisition.acquireFrame(frame, 0); // still held when the switch comes, and dropped with the duplication
  EXPECT_TRUE(acquisition.requestMonitor(1));
  EXPECT_TRUE(acquisition.requestMonitor(2));
  acquisition.acquireFrame(frame, 0);
  EXPECT_TRUE(acquisition.requestMonitor(2)); // the current monitor again: dropped
  acquire();
  EXPECT_EQ(backend.log, "image rect 1920 release close open timeout copy timeout");
}

TEST_F(AcquisitionTest, ASwitchThatCannotBeDuplicatedFallsBackToCopiesForGood) {
  acquisition.monitors = {{0, 0, 1920, 1080, true}, {1920, 0, 1080, 1920, false}};
  backend.opensSucceed = false; // rotated, or on another adapter
  acquisition.requestMonitor(1);
  acquire();
  backend.opensSucceed = true;
  acquisition.requestMonitor(0);
  acquire();
  EXPECT_TRUE(acquisition.gdiMode);
  EXPECT_EQ(backend.log, "rect 1920 close open-fails copy rect 0 copy");
}

TEST(Acquisition, InitialProbeDecidesBetweenDuplicationAndCopies) {
  // An image that cannot be had proves nothing black; no image at all in
  // 300 ms (three time-outs of 100) keeps the duplication but arms checks.
  const std::tuple<const char*, bool, bool, const char*, int> probes[] = {
      {"TPB", true, false, "timeout pointer release image release close", 7},
      {"I", true, true, "image release", 0},
      {"B", false, true, "image release", 0},
      {"", true, true, "timeout timeout timeout", 3},
      // A duplication that fails or loses access has proved nothing either.
      {"L", true, true, "lost", 3},
      {"F", true, true, "failed", 3}};
  for (const auto& [script, readable, kept, log, blackChecks] : probes) {
    Rig r;
    r.backend.script = script;
    r.backend.imageReadable = readable;
    r.acquisition.blackChecksLeft = 7; // neither value a probe sets
    r.acquisition.needFreshFrame = false;
    EXPECT_EQ(r.acquisition.keepDuplicationAfterProbe(300, 100), kept) << script;
    EXPECT_EQ(r.backend.log, log);
    EXPECT_EQ(r.acquisition.blackChecksLeft, blackChecks) << script;
    EXPECT_TRUE(r.acquisition.needFreshFrame);
  }
}

} // namespace
