// The banner as a topmost, click-through layered window drawn once with GDI+,
// on a thread with its own message loop.
#include "banner/session_banner.h"

#include "banner/banner_layout.h"

#include <windows.h>

#include <algorithm>
#include <objidl.h>
namespace Gdiplus {
using std::max;
using std::min;
} // namespace Gdiplus
#include <gdiplus.h>

#include <atomic>
#include <memory>

namespace dravnok {
namespace {

using namespace banner;

constexpr wchar_t kClassName[] = L"DravnokRemoteSessionBanner";
constexpr UINT_PTR kTimerId = 1;

WorkArea currentWorkArea() {
  RECT area{};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
    area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  return {area.left, area.top, area.right, area.bottom};
}

void addRoundedBox(Gdiplus::GraphicsPath& path, const RoundedBox& shape) {
  for (const CornerArc& arc : roundedBoxArcs(shape)) {
    path.AddArc(static_cast<Gdiplus::REAL>(arc.bounds.x), static_cast<Gdiplus::REAL>(arc.bounds.y),
                static_cast<Gdiplus::REAL>(arc.bounds.width), static_cast<Gdiplus::REAL>(arc.bounds.height),
                static_cast<Gdiplus::REAL>(arc.startDegrees), static_cast<Gdiplus::REAL>(arc.sweepDegrees));
  }
  path.CloseFigure();
}

Gdiplus::RectF rectOf(const Box& box) {
  return {static_cast<Gdiplus::REAL>(box.x), static_cast<Gdiplus::REAL>(box.y), static_cast<Gdiplus::REAL>(box.width),
          static_cast<Gdiplus::REAL>(box.height)};
}

// The system's message font in semibold, as GDI's font mapper resolves it:
// some installed sans-serif face even where neither Segoe UI family exists.
std::unique_ptr<Gdiplus::Font> mappedSystemFont() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  LOGFONTW logFont{};
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) logFont = metrics.lfMessageFont;
  logFont.lfWeight = FW_SEMIBOLD;
  logFont.lfItalic = FALSE;
  logFont.lfUnderline = FALSE;
  logFont.lfQuality = ANTIALIASED_QUALITY;
  HDC screen = GetDC(nullptr);
  logFont.lfHeight = -MulDiv(static_cast<int>(kFontPoints), GetDeviceCaps(screen, LOGPIXELSY), 72);
  auto font = std::make_unique<Gdiplus::Font>(screen, &logFont);
  ReleaseDC(nullptr, screen);
  return font;
}

// "Segoe UI Semibold", else "Segoe UI" bold, else the mapped system font:
// without it a system lacking both families (Wine) would show no text.
std::unique_ptr<Gdiplus::Font> createBannerFont() {
  const auto size = static_cast<Gdiplus::REAL>(kFontPoints);
  Gdiplus::FontFamily semibold(L"Segoe UI Semibold");
  if (semibold.GetLastStatus() == Gdiplus::Ok) {
    auto font = std::make_unique<Gdiplus::Font>(&semibold, size, Gdiplus::FontStyleRegular, Gdiplus::UnitPoint);
    if (font->GetLastStatus() == Gdiplus::Ok) return font;
  }
  Gdiplus::FontFamily regular(L"Segoe UI");
  if (regular.GetLastStatus() == Gdiplus::Ok) {
    auto font = std::make_unique<Gdiplus::Font>(&regular, size, Gdiplus::FontStyleBold, Gdiplus::UnitPoint);
    if (font->GetLastStatus() == Gdiplus::Ok) return font;
  }
  return mappedSystemFont();
}

std::unique_ptr<Gdiplus::StringFormat> unwrappedFormat() {
  auto format = std::make_unique<Gdiplus::StringFormat>(Gdiplus::StringFormat::GenericTypographic());
  format->SetFormatFlags(format->GetFormatFlags() | Gdiplus::StringFormatFlagsNoWrap);
  return format;
}

int measureText(const std::wstring& text, const Gdiplus::Font& font) {
  Gdiplus::Bitmap probe(1, 1, PixelFormat32bppPARGB);
  Gdiplus::Graphics graphics(&probe);
  graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
  auto format = unwrappedFormat();
  Gdiplus::RectF bounds;
  graphics.MeasureString(text.c_str(), static_cast<INT>(text.size()), &font, Gdiplus::RectF(0, 0, 0, 0), format.get(),
                         &bounds);
  return roundedTextWidth(bounds.Width);
}

void drawBanner(Gdiplus::Graphics& graphics, const BannerLayout& layout, const std::wstring& text,
                const Gdiplus::Font& font) {
  graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
  graphics.Clear(Gdiplus::Color(0, 0, 0, 0));

  Gdiplus::SolidBrush shadowBrush{Gdiplus::Color(kShadowLayer)};
  for (const RoundedBox& layer : layout.shadow) {
    Gdiplus::GraphicsPath path;
    addRoundedBox(path, layer);
    graphics.FillPath(&shadowBrush, &path);
  }
  Gdiplus::GraphicsPath card;
  addRoundedBox(card, layout.card);
  Gdiplus::SolidBrush cardBrush{Gdiplus::Color(kCardFill)};
  graphics.FillPath(&cardBrush, &card);
  Gdiplus::Pen outline(Gdiplus::Color(kCardOutline), 1.0f);
  graphics.DrawPath(&outline, &card);
  Gdiplus::SolidBrush haloBrush{Gdiplus::Color(kHaloColour)};
  graphics.FillEllipse(&haloBrush, rectOf(layout.halo));
  Gdiplus::SolidBrush dotBrush{Gdiplus::Color(kDotColour)};
  graphics.FillEllipse(&dotBrush, rectOf(layout.dot));

  auto format = unwrappedFormat();
  format->SetAlignment(Gdiplus::StringAlignmentNear);
  format->SetLineAlignment(Gdiplus::StringAlignmentCenter);
  Gdiplus::SolidBrush textBrush{Gdiplus::Color(kTextColour)};
  graphics.DrawString(text.c_str(), static_cast<INT>(text.size()), &font, rectOf(layout.textBox), format.get(),
                      &textBrush);
  graphics.Flush(Gdiplus::FlushIntentionSync);
}

struct DcReleaser {
  void operator()(HDC dc) const { ReleaseDC(nullptr, dc); }
};
struct DcDeleter {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
struct ObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};

// Renders the text once and hands the picture to the layered window.
void renderAndPlace(HWND window, SessionBanner& banner) {
  auto font = createBannerFont();
  const WorkArea area = currentWorkArea();
  // A name too long is cut to fit: a banner wider than the screen would
  // hide the notice instead of showing it.
  const std::u16string fitted =
      fitBannerText(banner.text(), maxTextWidthFor(area.right - area.left), [&](std::u16string_view part) {
        return static_cast<double>(measureText(std::wstring(part.begin(), part.end()), *font));
      });
  const std::wstring text(fitted.begin(), fitted.end());
  const BannerLayout layout = layoutFor(measureText(text, *font));
  banner.setRenderedSize(layout.width, layout.height);

  std::unique_ptr<std::remove_pointer_t<HDC>, DcReleaser> screen(GetDC(nullptr));
  std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter> memory(CreateCompatibleDC(screen.get()));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = layout.width;
  info.bmiHeader.biHeight = -layout.height; // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, ObjectDeleter> dib(
      CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!memory || !dib || !bits) return;
  HGDIOBJ previous = SelectObject(memory.get(), dib.get());
  {
    Gdiplus::Bitmap bitmap(layout.width, layout.height, layout.width * 4, PixelFormat32bppPARGB,
                           static_cast<BYTE*>(bits));
    Gdiplus::Graphics graphics(&bitmap);
    drawBanner(graphics, layout, text, *font);
  }

  const Point origin = bannerOrigin(area, layout.width);
  POINT position{origin.x, origin.y};
  SIZE size{layout.width, layout.height};
  POINT source{0, 0};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  UpdateLayeredWindow(window, screen.get(), &position, &size, memory.get(), &source, 0, &blend, ULW_ALPHA);
  SelectObject(memory.get(), previous);
}

LRESULT CALLBACK bannerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_NCCREATE: {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    break;
  }
  case WM_TIMER:
    // Keeps the banner on top and follows taskbar moves and resolution
    // changes; the picture itself stays as it was drawn.
    if (auto* banner = reinterpret_cast<SessionBanner*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
      const Point origin = bannerOrigin(currentWorkArea(), banner->width());
      SetWindowPos(window, HWND_TOPMOST, origin.x, origin.y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    }
    return 0;
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  default:
    break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND createBannerWindow(SessionBanner& banner) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = bannerWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kClassName;
  // A later show finds the class from the first one still registered.
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
  return CreateWindowExW(WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_LAYERED | WS_EX_NOACTIVATE,
                         kClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, instance, &banner);
}

class Win32BannerWindow final : public BannerWindowThread {
public:
  void run(SessionBanner& banner) override {
    // The message queue exists before the id is published, so a WM_QUIT
    // posted to that id is never lost.
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    threadId_ = GetCurrentThreadId();
    // A hide that came before the id was published could not post WM_QUIT;
    // it has cleared the flag instead.
    if (!banner.running()) return;

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return banner.windowFailed();
    HWND window = createBannerWindow(banner);
    if (!window) {
      Gdiplus::GdiplusShutdown(token);
      return banner.windowFailed();
    }
    renderAndPlace(window, banner);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    SetTimer(window, kTimerId, kTimerPeriodMs, nullptr);
    if (banner.running()) {
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
    KillTimer(window, kTimerId);
    DestroyWindow(window);
    Gdiplus::GdiplusShutdown(token);
  }

  void wake() override {
    if (DWORD id = threadId_.load()) PostThreadMessageW(id, WM_QUIT, 0, 0);
  }

  void joined() override { threadId_ = 0; }

private:
  std::atomic<DWORD> threadId_{0};
};

} // namespace

std::unique_ptr<BannerWindowThread> makeBannerWindowThread() { return std::make_unique<Win32BannerWindow>(); }

} // namespace dravnok
