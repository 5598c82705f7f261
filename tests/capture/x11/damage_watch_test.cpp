// GoogleTest first: X11's macros (None, Bool) would break its headers.
#include <gtest/gtest.h>

#include "capture/x11/damage_watch.h"

#include <X11/Xlib.h>
#include <unistd.h>

#include <chrono>
#include <memory>

namespace dravnok::capture::x11 {
namespace {

struct Closer {
  void operator()(Display* d) const { XCloseDisplay(d); }
};

// A window of our own to watch, so that other programs drawing on the
// shared test screen cannot disturb the test; drawn into from a second
// connection, as another client would.
class DamageWatchTest : public ::testing::Test {
protected:
  void SetUp() override {
    watcher.reset(XOpenDisplay(nullptr));
    painter.reset(XOpenDisplay(nullptr));
    if (!watcher || !painter) GTEST_SKIP() << "no X display";
    // Away from the corner where other tests' windows open: one mapped or
    // unmapped over ours would damage it.
    Display* d = watcher.get();
    const int w = DisplayWidth(d, DefaultScreen(d)), h = DisplayHeight(d, DefaultScreen(d));
    const int x = w / 4 + static_cast<int>(getpid()) % (w / 2), y = h / 4 + static_cast<int>(getpid() / 7) % (h / 2);
    window = XCreateSimpleWindow(watcher.get(), DefaultRootWindow(watcher.get()), x, y, 64, 64, 0, 0, 0);
    XMapWindow(watcher.get(), window);
    XSync(watcher.get(), False);
  }
  void TearDown() override {
    if (window) XDestroyWindow(watcher.get(), window);
  }
  void draw() {
    GC gc = XCreateGC(painter.get(), window, 0, nullptr);
    XFillRectangle(painter.get(), window, gc, 4, 4, 8, 8);
    XFreeGC(painter.get(), gc);
    XSync(painter.get(), False);
  }
  // Whatever mapping the window drew is reported before the test starts.
  void settle(DamageWatch& watch) {
    watch.waitForChange(200);
    watch.takeChange();
    XSync(watcher.get(), False);
    watch.takeChange();
  }

  std::unique_ptr<Display, Closer> watcher, painter;
  Window window = 0;
};

TEST_F(DamageWatchTest, ReportsEachDrawingOnceAndNothingWithoutOne) {
  DamageWatch watch(watcher.get(), window);
  ASSERT_TRUE(watch.active());
  EXPECT_TRUE(watch.takeChange()); // the first copy is always wanted
  settle(watch);
  EXPECT_FALSE(watch.takeChange());
  draw();
  watch.waitForChange(2000);
  EXPECT_TRUE(watch.takeChange());
  EXPECT_FALSE(watch.takeChange());
  // Drawing after a change was taken is reported again.
  draw();
  watch.waitForChange(2000);
  EXPECT_TRUE(watch.takeChange());
}

TEST_F(DamageWatchTest, WaitEndsAtADrawingOrAtTheTimeout) {
  DamageWatch watch(watcher.get(), window);
  settle(watch);
  auto start = std::chrono::steady_clock::now();
  watch.waitForChange(100);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
  EXPECT_FALSE(watch.takeChange());

  draw();
  start = std::chrono::steady_clock::now();
  watch.waitForChange(5000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4000));
  EXPECT_TRUE(watch.takeChange());
}

} // namespace
} // namespace dravnok::capture::x11
