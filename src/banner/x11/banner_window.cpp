// The banner as an X window: override-redirect (no decorations, never
// focused), kept on top, with an empty input shape so that clicks reach the
// windows beneath. With a compositing manager it uses a 32-bit ARGB visual and
// keeps the per-pixel alpha; without one the card is drawn on an opaque
// window cut to the card's outline.
#include "banner/session_banner.h"

#include "banner/banner_layout.h"
#include "banner/x11/banner_painter.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <cairo-xlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>

namespace dravnok {
namespace {

using namespace banner;
using namespace banner::x11;
using Clock = std::chrono::steady_clock;

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

struct XFreeDeleter {
  void operator()(void* data) const { XFree(data); }
};

Atom atom(Display* display, const char* name) { return XInternAtom(display, name, False); }

bool compositorRunning(Display* display, int screen) {
  const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
  return XGetSelectionOwner(display, atom(display, name.c_str())) != 0;
}

// The input shape needs XFixes 2 and the Shape extension's input kind.
bool canPassClicksThrough(Display* display) {
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XShapeQueryExtension(display, &event, &error)) return false;
  if (!XFixesQueryExtension(display, &event, &error)) return false;
  return XFixesQueryVersion(display, &major, &minor) && major >= 2;
}

std::optional<long> cardinalProperty(Display* display, Window root, const char* name, long index) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, root, atom(display, name), index, 1, False, XA_CARDINAL, &type, &format, &count,
                         &after, &data) != Success)
    return std::nullopt;
  std::unique_ptr<unsigned char, XFreeDeleter> owned(data);
  if (type != XA_CARDINAL || format != 32 || count < 1 || !data) return std::nullopt;
  return reinterpret_cast<const long*>(data)[0];
}

// The primary monitor (the one at the origin when none is marked), when
// XRandR knows the monitors.
std::optional<WorkArea> primaryMonitor(Display* display, Window root) {
  int event = 0, error = 0;
  if (!XRRQueryExtension(display, &event, &error)) return std::nullopt;
  int count = 0;
  XRRMonitorInfo* list = XRRGetMonitors(display, root, True, &count);
  if (!list) return std::nullopt;
  std::optional<WorkArea> primary, atOrigin;
  for (int i = 0; i < count; ++i) {
    const XRRMonitorInfo& m = list[i];
    if (m.width <= 0 || m.height <= 0) continue;
    const WorkArea area{m.x, m.y, m.x + m.width, m.y + m.height};
    if (m.primary && !primary) primary = area;
    if (m.x <= 0 && m.y <= 0 && m.x + m.width > 0 && m.y + m.height > 0 && !atOrigin) atOrigin = area;
  }
  XRRFreeMonitors(list);
  return primary ? primary : atOrigin;
}

// The current desktop's work area, or the whole screen when the window
// manager publishes none.
WorkArea desktopWorkArea(Display* display, int screen) {
  const Window root = RootWindow(display, screen);
  WorkArea whole{0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
  const long desktop = cardinalProperty(display, root, "_NET_CURRENT_DESKTOP", 0).value_or(0);
  long values[4];
  for (long i = 0; i < 4; ++i) {
    auto value = cardinalProperty(display, root, "_NET_WORKAREA", desktop * 4 + i);
    if (!value && desktop != 0) value = cardinalProperty(display, root, "_NET_WORKAREA", i);
    if (!value) return whole;
    values[i] = *value;
  }
  if (values[2] <= 0 || values[3] <= 0) return whole;
  return {static_cast<int>(values[0]), static_cast<int>(values[1]), static_cast<int>(values[0] + values[2]),
          static_cast<int>(values[1] + values[3])};
}

// The current desktop's work area on the primary monitor. The window
// manager's work area spans every monitor, so a banner centred in it could
// straddle two of them; without one the primary monitor (or the whole
// screen) is used.
WorkArea workArea(Display* display, int screen) {
  const WorkArea desktop = desktopWorkArea(display, screen);
  const auto monitor = primaryMonitor(display, RootWindow(display, screen));
  if (!monitor) return desktop;
  const WorkArea cut{std::max(desktop.left, monitor->left), std::max(desktop.top, monitor->top),
                     std::min(desktop.right, monitor->right), std::min(desktop.bottom, monitor->bottom)};
  return cut.left < cut.right && cut.top < cut.bottom ? cut : *monitor;
}

// One mapped banner window and the X resources it holds.
class BannerXWindow {
public:
  static std::optional<BannerXWindow> create(Display* display, const std::u16string& text);
  BannerXWindow(BannerXWindow&& other) noexcept
      : display_(other.display_), screen_(other.screen_), window_(other.window_), colormap_(other.colormap_),
        width_(other.width_), height_(other.height_) {
    other.window_ = 0;
    other.colormap_ = 0;
  }
  BannerXWindow& operator=(BannerXWindow&&) = delete;
  ~BannerXWindow() {
    if (window_) XDestroyWindow(display_, window_);
    if (colormap_) XFreeColormap(display_, colormap_);
    XFlush(display_);
  }

  int width() const { return width_; }
  int height() const { return height_; }

  // Follows work-area changes and stays above windows mapped since.
  void placeOnTop() {
    Point origin = bannerOrigin(workArea(display_, screen_), width_);
    XMoveWindow(display_, window_, origin.x, origin.y);
    XRaiseWindow(display_, window_);
    XFlush(display_);
  }

private:
  BannerXWindow(Display* display, int screen) : display_(display), screen_(screen) {}
  void paint(const RenderedBanner& banner, Visual* visual, int depth, bool perPixelAlpha);
  void cutToCard(const BannerLayout& layout);
  void describe();

  Display* display_;
  int screen_;
  Window window_ = 0;
  Colormap colormap_ = 0;
  int width_ = 0;
  int height_ = 0;
};

std::optional<BannerXWindow> BannerXWindow::create(Display* display, const std::u16string& text) {
  if (!canPassClicksThrough(display)) return std::nullopt; // a banner must never catch clicks
  const int screen = DefaultScreen(display);
  const Window root = RootWindow(display, screen);
  const WorkArea area = workArea(display, screen);
  RenderedBanner banner = renderBanner(text, maxTextWidthFor(area.right - area.left));
  if (cairo_surface_status(banner.image.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;

  BannerXWindow self(display, screen);
  self.width_ = banner.layout.width;
  self.height_ = banner.layout.height;

  XVisualInfo argb{};
  const bool perPixelAlpha =
      compositorRunning(display, screen) && XMatchVisualInfo(display, screen, 32, TrueColor, &argb);
  Visual* visual = perPixelAlpha ? argb.visual : DefaultVisual(display, screen);
  const int depth = perPixelAlpha ? 32 : DefaultDepth(display, screen);
  self.colormap_ = XCreateColormap(display, root, visual, AllocNone);

  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.border_pixel = 0;
  attributes.background_pixel = 0;
  attributes.colormap = self.colormap_;
  const Point origin = bannerOrigin(area, self.width_);
  self.window_ = XCreateWindow(display, root, origin.x, origin.y, self.width_, self.height_, 0, depth, InputOutput,
                               visual, CWOverrideRedirect | CWBorderPixel | CWBackPixel | CWColormap, &attributes);
  if (!self.window_) return std::nullopt;

  XserverRegion empty = XFixesCreateRegion(display, nullptr, 0);
  XFixesSetWindowShapeRegion(display, self.window_, ShapeInput, 0, 0, empty);
  XFixesDestroyRegion(display, empty);
  self.paint(banner, visual, depth, perPixelAlpha);
  if (!perPixelAlpha) self.cutToCard(banner.layout);
  self.describe();
  XMapRaised(display, self.window_);
  XFlush(display);
  return self;
}

// The picture becomes the window's background, so the server repaints it on
// every exposure without a redraw on our side.
void BannerXWindow::paint(const RenderedBanner& banner, Visual* visual, int depth, bool perPixelAlpha) {
  Pixmap pixmap = XCreatePixmap(display_, window_, width_, height_, depth);
  CairoSurface surface(cairo_xlib_surface_create(display_, pixmap, visual, width_, height_));
  Cairo cr(cairo_create(surface.get()));
  if (perPixelAlpha) {
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
  } else {
    // Only the card remains visible; give its translucent fill a backdrop of
    // its own colour.
    Argb card = argbOf(kCardFill);
    cairo_set_source_rgb(cr.get(), card.r, card.g, card.b);
    cairo_paint(cr.get());
  }
  cairo_set_source_surface(cr.get(), banner.image.get(), 0, 0);
  cairo_paint(cr.get());
  cr.reset();
  cairo_surface_flush(surface.get());
  surface.reset();
  XSetWindowBackgroundPixmap(display_, window_, pixmap);
  XFreePixmap(display_, pixmap);
}

void BannerXWindow::cutToCard(const BannerLayout& layout) {
  Pixmap mask = XCreatePixmap(display_, window_, width_, height_, 1);
  CairoSurface surface(
      cairo_xlib_surface_create_for_bitmap(display_, mask, ScreenOfDisplay(display_, screen_), width_, height_));
  Cairo cr(cairo_create(surface.get()));
  cairo_set_operator(cr.get(), CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr.get());
  cairo_set_operator(cr.get(), CAIRO_OPERATOR_OVER);
  cairo_set_antialias(cr.get(), CAIRO_ANTIALIAS_NONE);
  addRoundedBox(cr.get(), layout.card);
  cairo_set_source_rgb(cr.get(), 1, 1, 1);
  cairo_fill(cr.get());
  cr.reset();
  cairo_surface_flush(surface.get());
  surface.reset();
  XShapeCombineMask(display_, window_, ShapeBounding, 0, 0, mask, ShapeSet);
  XFreePixmap(display_, mask);
}

// Names and hints for window managers, compositors and anyone looking for it.
void BannerXWindow::describe() {
  XClassHint classHint{const_cast<char*>("remote-helper"), const_cast<char*>("DravnokRemoteSessionBanner")};
  XSetClassHint(display_, window_, &classHint);
  XWMHints hints{};
  hints.flags = InputHint;
  hints.input = False;
  XSetWMHints(display_, window_, &hints);
  Atom notification = atom(display_, "_NET_WM_WINDOW_TYPE_NOTIFICATION");
  XChangeProperty(display_, window_, atom(display_, "_NET_WM_WINDOW_TYPE"), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&notification), 1);
}

class X11BannerWindow final : public BannerWindowThread {
public:
  X11BannerWindow() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~X11BannerWindow() override {
    if (wakeFd_ >= 0) close(wakeFd_);
  }

  void run(SessionBanner& banner) override {
    DisplayPtr display(wakeFd_ >= 0 ? XOpenDisplay(nullptr) : nullptr);
    if (!display) return banner.windowFailed();
    std::optional<BannerXWindow> window = BannerXWindow::create(display.get(), banner.text());
    if (!window) return banner.windowFailed();
    banner.setRenderedSize(window->width(), window->height());
    runLoop(banner, display.get(), *window);
  }

  void wake() override {
    const uint64_t one = 1;
    if (wakeFd_ >= 0) (void)!write(wakeFd_, &one, sizeof one);
  }

  // A wake that arrived after the thread had already left must not end the
  // next one.
  void joined() override {
    uint64_t count = 0;
    if (wakeFd_ >= 0) (void)!read(wakeFd_, &count, sizeof count);
  }

private:
  void runLoop(SessionBanner& banner, Display* display, BannerXWindow& window) {
    const auto period = std::chrono::milliseconds(kTimerPeriodMs);
    auto nextTick = Clock::now() + period;
    while (banner.running()) {
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now());
      pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {ConnectionNumber(display), POLLIN, 0}};
      const int ready = poll(fds, 2, static_cast<int>(std::max<long long>(0, wait.count())));
      if (ready < 0 && errno != EINTR) return;
      if (fds[0].revents) return;
      if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
      while (XPending(display) > 0) { // nothing to handle: the server paints the background
        XEvent event;
        XNextEvent(display, &event);
      }
      if (Clock::now() >= nextTick) {
        window.placeOnTop();
        nextTick = Clock::now() + period;
      }
    }
  }

  int wakeFd_;
};

} // namespace

std::unique_ptr<BannerWindowThread> makeBannerWindowThread() { return std::make_unique<X11BannerWindow>(); }

} // namespace dravnok
