// The real banner window on the test X server: where it goes when the work
// area changes, and that clicks pass through it.
#include "banner/banner_layout.h"
#include "banner/session_banner.h"
#include "banner/show_hide_cycles.h"

// GoogleTest first: X11's macros (None, Bool) would break its headers.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace dravnok;
using namespace dravnok::banner;
using namespace std::chrono_literals;

namespace {

constexpr unsigned long kDot = 0x4C9AF5, kWhite = 0xFFFFFF;

bool looksLike(unsigned long a, unsigned long b, int tolerance) {
  for (int shift : {0, 8, 16}) {
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > tolerance)
      return false;
  }
  return true;
}

// A white window over the whole screen that records button presses: the
// "desktop" beneath the banner.
class X11Desktop : public testing::Test {
protected:
  void SetUp() override {
    // The test stages' servers run without resets: no wait for one here.
    if (!(display_ = XOpenDisplay(nullptr))) GTEST_SKIP() << "no X display";
    root_ = DefaultRootWindow(display_);
    width_ = DisplayWidth(display_, DefaultScreen(display_));
    height_ = DisplayHeight(display_, DefaultScreen(display_));
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = WhitePixel(display_, DefaultScreen(display_));
    attributes.event_mask = ButtonPressMask;
    beneath_ = XCreateWindow(display_, root_, 0, 0, width_, height_, 0, CopyFromParent, InputOutput, CopyFromParent,
                             CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
    XMapRaised(display_, beneath_);
    XSync(display_, False);
  }

  void TearDown() override {
    if (!display_) return;
    XDestroyWindow(display_, beneath_);
    XDeleteProperty(display_, root_, XInternAtom(display_, "_NET_WORKAREA", False));
    XCloseDisplay(display_);
  }

  unsigned long pixel(int x, int y) {
    XSync(display_, False);
    XImage* image = XGetImage(display_, root_, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return ~0ul;
    unsigned long value = XGetPixel(image, 0, 0) & 0xFFFFFF;
    XDestroyImage(image);
    return value;
  }

  // Whether (x, y) comes to show `colour` within three seconds.
  testing::AssertionResult turns(int x, int y, unsigned long colour, int tolerance) {
    unsigned long seen = 0;
    for (auto end = std::chrono::steady_clock::now() + 3s; std::chrono::steady_clock::now() < end;) {
      if (looksLike(seen = pixel(x, y), colour, tolerance)) return testing::AssertionSuccess();
      std::this_thread::sleep_for(20ms);
    }
    return testing::AssertionFailure() << std::hex << seen << " at " << std::dec << x << "," << y;
  }

  // Shows the banner and waits until its status dot is drawn where the
  // whole screen's layout puts it; returns the banner's origin.
  Point show(SessionBanner& banner) {
    banner.show(u"Ann \u2014 remote support session");
    for (int i = 0; i < 150 && banner.width() == 0; ++i) std::this_thread::sleep_for(20ms);
    Point origin = bannerOrigin({0, 0, width_, height_}, banner.width());
    EXPECT_TRUE(turns(origin.x + 44, origin.y + 42, kDot, 2));
    return origin;
  }

  Display* display_ = nullptr;
  Window root_ = 0;
  Window beneath_ = 0;
  int width_ = 0, height_ = 0;
};

TEST_F(X11Desktop, PassesClicksThroughFollowsWorkAreaChangesAndGoesAtOnceOnHide) {
  SessionBanner banner;
  Point origin = show(banner);
  Window focusBefore = 0, focusAfter = 0;
  int revert = 0;
  XGetInputFocus(display_, &focusBefore, &revert);
  XTestFakeMotionEvent(display_, DefaultScreen(display_), origin.x + 120, origin.y + 42, CurrentTime);
  XTestFakeButtonEvent(display_, 1, True, CurrentTime);
  XTestFakeButtonEvent(display_, 1, False, CurrentTime);
  XEvent event;
  bool pressed = false;
  for (int i = 0; i < 150 && !pressed; ++i) {
    std::this_thread::sleep_for(20ms);
    XSync(display_, False);
    pressed = XCheckTypedWindowEvent(display_, beneath_, ButtonPress, &event);
  }
  EXPECT_TRUE(pressed) << "the window beneath had no click";
  XGetInputFocus(display_, &focusAfter, &revert);
  EXPECT_EQ(focusAfter, focusBefore);

  // A 60 px panel appears on the left and a 40 px one at the bottom.
  long area[4] = {60, 0, width_ - 60, height_ - 40};
  XChangeProperty(display_, root_, XInternAtom(display_, "_NET_WORKAREA", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(area), 4);
  Point after = bannerOrigin({60, 0, width_, height_ - 40}, banner.width());
  EXPECT_TRUE(turns(after.x + 44, after.y + 42, kDot, 2));
  banner.hide();
  EXPECT_EQ(pixel(after.x + 44, after.y + 42), kWhite);
}

TEST_F(X11Desktop, HideRightAfterShowEndsTheThreadAndOnlyAShowAfterHideChangesTheText) {
  expectShowHideCyclesEachEndTheThread();
}

} // namespace
