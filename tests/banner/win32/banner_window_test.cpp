// The real layered banner window: what reaches the screen, and where.
#include "banner/banner_layout.h"
#include "banner/session_banner.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

using namespace dravnok;
using namespace dravnok::banner;
using namespace std::chrono_literals;

namespace {

struct Rgb {
  int r, g, b;
};

std::ostream& operator<<(std::ostream& out, Rgb c) { return out << "rgb(" << c.r << "," << c.g << "," << c.b << ")"; }

bool looksLike(Rgb a, Rgb b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

// One pixel of the screen as GDI sees it.
Rgb screenPixel(int x, int y) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 1;
  info.bmiHeader.biHeight = -1;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, 1, 1, screen, x, y, SRCCOPY);
  GdiFlush();
  const auto* p = static_cast<const unsigned char*>(bits);
  Rgb result{p[2], p[1], p[0]};
  SelectObject(memory, previous);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return result;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 15000ms) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
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
  ASSERT_TRUE(eventually([&] {
    RECT r{};
    GetWindowRect(window, &r);
    return r.left == origin.x && r.top == origin.y && r.right - r.left == banner.width() &&
           r.bottom - r.top == banner.height();
  }));
  // The status dot drawn by GDI+ reaches the screen.
  const Rgb dot{0x4C, 0x9A, 0xF5};
  EXPECT_TRUE(eventually([&] { return looksLike(screenPixel(origin.x + 44, origin.y + 42), dot, 3); }))
      << screenPixel(origin.x + 44, origin.y + 42);
  // The card from its left end to its right end, which follows the text.
  const Rgb card{0x18, 0x1A, 0x20};
  const int right = origin.x + banner.width() - 26;
  EXPECT_TRUE(looksLike(screenPixel(origin.x + 28, origin.y + 42), card, 8))
      << screenPixel(origin.x + 28, origin.y + 42);
  EXPECT_TRUE(looksLike(screenPixel(right, origin.y + 42), card, 8)) << screenPixel(right, origin.y + 42);

  banner.hide();
  EXPECT_EQ(findBanner(), nullptr);
}

TEST(Win32Banner, HideRightAfterShowEndsTheThread) {
  SessionBanner banner;
  for (int i = 0; i < 20; ++i) {
    banner.show(u"quick");
    banner.hide();
    EXPECT_FALSE(banner.running());
  }
  EXPECT_EQ(findBanner(), nullptr);
}
