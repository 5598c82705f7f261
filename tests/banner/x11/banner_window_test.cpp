// The real banner window on the test X server: what it puts on the screen,
// where, and that clicks pass through it.
#include "banner/banner_layout.h"
#include "banner/session_banner.h"
#include "banner/x11/banner_painter.h"
#include "common/utf.h"

// GoogleTest first: X11's macros (None, Bool) would break its headers.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

using namespace dravnok;
using namespace dravnok::banner;

namespace {

using namespace std::chrono_literals;

struct Rgb {
  int r, g, b;
};

bool looksLike(Rgb a, Rgb b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

std::ostream& operator<<(std::ostream& out, Rgb c) { return out << "rgb(" << c.r << "," << c.g << "," << c.b << ")"; }

constexpr Rgb kCard{0x18, 0x1A, 0x20};
constexpr Rgb kDot{0x4C, 0x9A, 0xF5};
constexpr Rgb kWhite{0xFF, 0xFF, 0xFF};

// A white window over the whole screen that records button presses: the
// "desktop" beneath the banner.
class X11Desktop : public testing::Test {
protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    // A server whose last client just left resets itself and refuses
    // connections meanwhile.
    for (int attempt = 0; attempt < 50 && !display_; ++attempt) {
      display_ = XOpenDisplay(nullptr);
      if (!display_) std::this_thread::sleep_for(100ms);
    }
    ASSERT_NE(display_, nullptr);
    screen_ = DefaultScreen(display_);
    root_ = RootWindow(display_, screen_);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = WhitePixel(display_, screen_);
    attributes.event_mask = ButtonPressMask;
    beneath_ = XCreateWindow(display_, root_, 0, 0, screenWidth(), screenHeight(), 0, CopyFromParent, InputOutput,
                             CopyFromParent, CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
    XMapRaised(display_, beneath_);
    XSync(display_, False);
  }

  void TearDown() override {
    if (!display_) return;
    XDestroyWindow(display_, beneath_);
    XDeleteProperty(display_, root_, XInternAtom(display_, "_NET_WORKAREA", False));
    XCloseDisplay(display_);
  }

  int screenWidth() const { return DisplayWidth(display_, screen_); }
  int screenHeight() const { return DisplayHeight(display_, screen_); }

  Rgb pixel(int x, int y) {
    XSync(display_, False);
    XImage* image = XGetImage(display_, root_, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return {-1, -1, -1};
    unsigned long value = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return {static_cast<int>((value >> 16) & 0xFF), static_cast<int>((value >> 8) & 0xFF),
            static_cast<int>(value & 0xFF)};
  }

  // Polls until `condition` holds, for up to `limit`.
  static bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 3000ms) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (condition()) return true;
      std::this_thread::sleep_for(20ms);
    }
    return condition();
  }

  // Whether (x, y) comes to show `colour` within three seconds.
  ::testing::AssertionResult turns(int x, int y, Rgb colour, int tolerance) {
    if (eventually([&] { return looksLike(pixel(x, y), colour, tolerance); })) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << pixel(x, y) << " at " << x << "," << y;
  }

  // Shows `text` and waits until the banner is drawn; returns its origin.
  Point showAndWait(SessionBanner& banner, const std::u16string& text, WorkArea area) {
    banner.show(text);
    EXPECT_TRUE(eventually([&] { return banner.width() > 0; }));
    Point origin = bannerOrigin(area, banner.width());
    EXPECT_TRUE(turns(origin.x + 44, origin.y + 42, kDot, 2));
    return origin;
  }

  WorkArea wholeScreen() const { return {0, 0, screenWidth(), screenHeight()}; }

  // The measured width of the card's text, as the renderer measures it.
  static int textWidth(const std::u16string& text) {
    return roundedTextWidth(x11::BannerFont().measure(utf16ToUtf8(text)));
  }

  // Checks the card from its left end to its right end along its middle row;
  // just outside its two ends and above it, the desktop shows.
  void expectCard(Point origin, int width) {
    const std::tuple<int, int, Rgb, int> points[] = {{28, 42, kCard, 3},          {44, 42, kDot, 2},
                                                     {width - 28, 42, kCard, 3},  {18, 42, kWhite, 0},
                                                     {width - 18, 42, kWhite, 0}, {width / 2, 18, kWhite, 0}};
    for (auto [dx, dy, colour, tolerance] : points) EXPECT_TRUE(turns(origin.x + dx, origin.y + dy, colour, tolerance));
  }

  Display* display_ = nullptr;
  int screen_ = 0;
  Window root_ = 0;
  Window beneath_ = 0;
};

TEST_F(X11Desktop, CardAndDotSitAtTheBottomCentreAndFollowTheTextWidth) {
  const std::u16string texts[] = {
      u"Remote support session in progress",
      u"Maximilian Alexander von Oberhausen-Wittelsbach \u2014 remote support session",
      // Far wider than the 32767 pixels a picture or window may have:
      // shortened, not lost.
      std::u16string(4000, u'W') + u" \u2014 remote support session",
  };
  int widths[3] = {};
  for (int i = 0; i < 3; ++i) {
    SessionBanner banner;
    Point origin = showAndWait(banner, texts[i], wholeScreen());
    if (i < 2) {
      EXPECT_EQ(banner.width(), textWidth(texts[i]) + 102);
    } else {
      EXPECT_LE(banner.width(), screenWidth());
    }
    EXPECT_EQ(origin.y, screenHeight() - 78);
    expectCard(origin, banner.width());
    widths[i] = banner.width();
    banner.hide();
    // Gone at once: the desktop shows where the dot was.
    EXPECT_TRUE(looksLike(pixel(origin.x + 44, origin.y + 42), kWhite, 0));
  }
  EXPECT_GT(widths[1], widths[0] + 150);
}

TEST_F(X11Desktop, HideRightAfterShowEndsTheThread) {
  SessionBanner banner;
  for (int i = 0; i < 20; ++i) {
    banner.show(u"quick");
    banner.hide(); // returns once the thread has been joined
    EXPECT_FALSE(banner.running());
  }
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(looksLike(pixel(screenWidth() / 2, screenHeight() - 36), kWhite, 0));
}

TEST_F(X11Desktop, ClicksOnTheBannerReachTheWindowBeneath) {
  SessionBanner banner;
  Point origin = showAndWait(banner, u"Ann \u2014 remote support session", wholeScreen());
  Window focusBefore = 0;
  int revert = 0;
  XGetInputFocus(display_, &focusBefore, &revert);
  XTestFakeMotionEvent(display_, screen_, origin.x + 120, origin.y + 42, CurrentTime);
  XTestFakeButtonEvent(display_, 1, True, CurrentTime);
  XTestFakeButtonEvent(display_, 1, False, CurrentTime);
  XSync(display_, False);
  bool pressed = eventually([&] {
    XEvent event;
    return XCheckTypedWindowEvent(display_, beneath_, ButtonPress, &event) != 0;
  });
  EXPECT_TRUE(pressed);
  Window focusAfter = 0;
  XGetInputFocus(display_, &focusAfter, &revert);
  EXPECT_EQ(focusAfter, focusBefore); // the banner never takes the focus
}

TEST_F(X11Desktop, FollowsWorkAreaChangesWithinTwoSeconds) {
  SessionBanner banner;
  showAndWait(banner, u"Ann \u2014 remote support session", wholeScreen());
  // A 60 px panel appears on the left and a 40 px one at the bottom.
  long area[4] = {60, 0, screenWidth() - 60, screenHeight() - 40};
  XChangeProperty(display_, root_, XInternAtom(display_, "_NET_WORKAREA", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(area), 4);
  XSync(display_, False);
  Point after = bannerOrigin({60, 0, screenWidth(), screenHeight() - 40}, banner.width());
  EXPECT_TRUE(turns(after.x + 44, after.y + 42, kDot, 2));
  // The card's bottom edge sits 16 px above the bottom panel.
  // (Its last row carries the half-pixel outline.)
  const int bottom = screenHeight() - 40;
  EXPECT_TRUE(turns(after.x + 60, bottom - 18, kCard, 3));
  EXPECT_TRUE(turns(after.x + 60, bottom - 16, kWhite, 0));
}

TEST_F(X11Desktop, KeepsPerPixelAlphaUnderACompositor) {
  // Own the compositor selection, as a compositing manager would.
  std::string selection = "_NET_WM_CM_S" + std::to_string(screen_);
  Window owner = XCreateSimpleWindow(display_, root_, 0, 0, 1, 1, 0, 0, 0);
  XSetSelectionOwner(display_, XInternAtom(display_, selection.c_str(), False), owner, CurrentTime);
  XSync(display_, False);
  SessionBanner banner;
  banner.show(u"Ann \u2014 remote support session");
  ASSERT_TRUE(eventually([&] { return banner.width() > 0; }));
  // The window is 32 bits deep; without a real compositor its premultiplied
  // pixels land on the screen as they are, so transparency shows as black.
  Window bannerWindow = 0;
  ASSERT_TRUE(eventually([&] {
    Window rootReturn, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(display_, root_, &rootReturn, &parent, &children, &count);
    for (unsigned i = 0; i < count; ++i) {
      XClassHint hint{};
      if (XGetClassHint(display_, children[i], &hint)) {
        if (std::string(hint.res_class) == "DravnokRemoteSessionBanner") bannerWindow = children[i];
        XFree(hint.res_name);
        XFree(hint.res_class);
      }
    }
    if (children) XFree(children);
    return bannerWindow != 0;
  }));
  XWindowAttributes attributes{};
  XGetWindowAttributes(display_, bannerWindow, &attributes);
  EXPECT_EQ(attributes.depth, 32);
  Point origin = bannerOrigin(wholeScreen(), banner.width());
  EXPECT_TRUE(turns(origin.x + 44, origin.y + 42, kDot, 2));
  EXPECT_TRUE(turns(origin.x + 2, origin.y + 2, {0, 0, 0}, 0));
  banner.hide();
  XDestroyWindow(display_, owner);
}

} // namespace
