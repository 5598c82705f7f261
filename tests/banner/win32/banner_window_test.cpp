// The real layered banner window: how it is made and how its thread ends.
// Where it sits and what it paints the banner test mode's picture shows.
#include "banner/session_banner.h"
#include "banner/show_hide_cycles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <thread>

using namespace dravnok;
using namespace std::chrono_literals;

namespace {
HWND findBanner() { return FindWindowW(L"DravnokRemoteSessionBanner", nullptr); }
} // namespace

TEST(Win32Banner, LayeredClickThroughTopmostWindowThatNeverTakesTheFocus) {
  SessionBanner banner;
  banner.show(u"Ann \u2014 remote support session");
  HWND window = nullptr;
  for (int i = 0; i < 300 && !(window = findBanner()); ++i) std::this_thread::sleep_for(50ms);
  ASSERT_NE(window, nullptr);
  const LONG_PTR wanted = WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_LAYERED | WS_EX_NOACTIVATE;
  EXPECT_EQ(GetWindowLongPtrW(window, GWL_EXSTYLE) & wanted, wanted);
  EXPECT_NE(GetForegroundWindow(), window);
  banner.hide();
  EXPECT_EQ(findBanner(), nullptr);
}

TEST(Win32Banner, HideRightAfterShowEndsTheThreadAndOnlyAShowAfterHideChangesTheText) {
  expectShowHideCyclesEachEndTheThread();
  EXPECT_EQ(findBanner(), nullptr);
}
