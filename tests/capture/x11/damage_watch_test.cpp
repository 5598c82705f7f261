// GoogleTest first: X11's macros (None, Bool) would break its headers.
#include <gtest/gtest.h>

#include "capture/x11/damage_watch.h"

#include <X11/Xlib.h>

#include <chrono>
#include <memory>

namespace dravnok::capture::x11 {
namespace {

struct Closer {
  void operator()(Display* d) const { XCloseDisplay(d); }
};

// A pixmap of our own to watch: nothing another program shows on the shared
// test screen can damage it (a window can be covered and exposed); drawn
// into from a second connection, as another client would.
class DamageWatchTest : public ::testing::Test {
protected:
  void SetUp() override {
    watcher.reset(XOpenDisplay(nullptr));
    painter.reset(XOpenDisplay(nullptr));
    if (!watcher || !painter) GTEST_SKIP() << "no X display";
    Display* d = watcher.get();
    pixmap = XCreatePixmap(d, DefaultRootWindow(d), 64, 64, static_cast<unsigned>(DefaultDepth(d, DefaultScreen(d))));
    XSync(d, False);
  }
  void TearDown() override {
    if (pixmap) XFreePixmap(watcher.get(), pixmap);
  }
  void draw() {
    GC gc = XCreateGC(painter.get(), pixmap, 0, nullptr);
    XFillRectangle(painter.get(), pixmap, gc, 4, 4, 8, 8);
    XFreeGC(painter.get(), gc);
    XSync(painter.get(), False);
  }
  // Whatever creating it reported is taken before the test starts.
  void settle(DamageWatch& watch) {
    watch.waitForChange(200);
    watch.takeChange();
    XSync(watcher.get(), False);
    watch.takeChange();
  }

  std::unique_ptr<Display, Closer> watcher, painter;
  Pixmap pixmap = 0;
};

TEST_F(DamageWatchTest, ReportsEachDrawingOnceAndNothingWithoutOne) {
  DamageWatch watch(watcher.get(), pixmap);
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
  DamageWatch watch(watcher.get(), pixmap);
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
