// The real layered banner window: how it is made and where it sits. What it
// paints on the screen the banner test mode's picture shows.
#include "banner/banner_layout.h"
#include "banner/session_banner.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace dravnok;
using namespace dravnok::banner;
using namespace std::chrono_literals;

namespace {

bool eventually(const std::function<bool()>& condition) {
  for (auto end = std::chrono::steady_clock::now() + 15s; std::chrono::steady_clock::now() < end;) {
    if (condition()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return condition();
}

HWND findBanner() { return FindWindowW(L"DravnokRemoteSessionBanner", nullptr); }

} // namespace

TEST(Win32Banner, LayeredClickThroughWindowAtTheBottomCentre) {
  SessionBanner banner;
  banner.show(u"Ann \u2014 remote support session");
  ASSERT_TRUE(eventually([] { return findBanner() != nullptr; }));
  HWND window = findBanner();
  const LONG_PTR exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
  for (LONG_PTR flag : std::initializer_list<LONG_PTR>{WS_EX_TOPMOST, WS_EX_TRANSPARENT, WS_EX_TOOLWINDOW,
                                                       WS_EX_LAYERED, WS_EX_NOACTIVATE}) {
    EXPECT_EQ(exStyle & flag, flag) << std::hex << flag;
  }
  EXPECT_NE(GetForegroundWindow(), window);

  RECT area{};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0));
  // Some text was measured, even without the preferred fonts.
  ASSERT_TRUE(eventually([&] { return banner.width() > 102; })) << banner.width();
  const Point origin = bannerOrigin({area.left, area.top, area.right, area.bottom}, banner.width());
  EXPECT_TRUE(eventually([&] {
    RECT r{};
    GetWindowRect(window, &r);
    return r.left == origin.x && r.top == origin.y && r.right - r.left == banner.width() &&
           r.bottom - r.top == banner.height();
  }));
  banner.hide();
  EXPECT_EQ(findBanner(), nullptr);
}

TEST(Win32Banner, HideRightAfterShowEndsTheThreadAndOnlyAShowAfterHideChangesTheText) {
  SessionBanner banner;
  for (int i = 0; i < 20; ++i) {
    const std::u16string text = i % 2 ? u"odd" : u"even";
    banner.show(text);
    banner.show(u"already shown: ignored");
    EXPECT_EQ(banner.text(), text);
    banner.hide();
    EXPECT_FALSE(banner.running());
  }
  EXPECT_EQ(findBanner(), nullptr);
}
