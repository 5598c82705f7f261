// GoogleTest first: X11's macros (None, Bool) would break its headers.
#include <gtest/gtest.h>

#include "capture/screen_capturer.h"

#include <X11/Xlib.h>

#include <chrono>
#include <cstring>
#include <memory>

namespace dravnok::capture {
namespace {

struct Closer {
  void operator()(Display* d) const { XCloseDisplay(d); }
};

// The capturer as the encode loop drives it (unchanged screens skipped),
// over a window of ours that covers the test screen.
class StreamingCaptureTest : public ::testing::Test {
protected:
  void SetUp() override {
    painter.reset(XOpenDisplay(nullptr));
    if (!painter) GTEST_SKIP() << "no X display";
    const int screen = DefaultScreen(painter.get());
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    window = XCreateWindow(painter.get(), RootWindow(painter.get(), screen), 0, 0, DisplayWidth(painter.get(), screen),
                           DisplayHeight(painter.get(), screen), 0, CopyFromParent, InputOutput, CopyFromParent,
                           CWOverrideRedirect, &attributes);
    XMapRaised(painter.get(), window);
    paint(0x102030);
    std::string error;
    ASSERT_TRUE(capturer.init(1920, error)) << error;
    capturer.setSkipUnchangedGdiFrames(true);
  }
  void TearDown() override {
    if (window) XDestroyWindow(painter.get(), window);
  }
  void paint(unsigned long rgb) {
    XSetWindowBackground(painter.get(), window, rgb);
    XClearWindow(painter.get(), window);
    XSync(painter.get(), False);
  }
  // Acquires until a frame shows `rgb` in its middle; other frames (other
  // tests may draw on the screen too) are passed over.
  bool frameShows(uint32_t rgb) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < end) {
      CapturedFrame frame;
      capturer.acquireFrame(frame, 50);
      bool match = false;
      if (frame.valid) {
        uint32_t pixel;
        std::memcpy(&pixel, frame.pixels + (frame.height / 2) * frame.pitch + (frame.width / 2) * 4, 4);
        match = (pixel & 0xFFFFFF) == rgb;
      }
      capturer.releaseFrame();
      if (match) return true;
    }
    return false;
  }

  std::unique_ptr<Display, Closer> painter;
  Window window = 0;
  ScreenCapturer capturer;
};

TEST_F(StreamingCaptureTest, EveryChangeIsDeliveredWithItsPixelsEvenBackToAnEarlierPicture) {
  EXPECT_TRUE(frameShows(0x102030));
  paint(0xC04080);
  EXPECT_TRUE(frameShows(0xC04080));
  // The same picture as two changes ago is still a change.
  paint(0x102030);
  EXPECT_TRUE(frameShows(0x102030));
  paint(0x30A050);
  EXPECT_TRUE(frameShows(0x30A050));
}

} // namespace
} // namespace dravnok::capture
