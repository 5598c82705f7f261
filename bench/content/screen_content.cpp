// Screen content for the end-to-end benchmark: a full-screen window that
// shows one kind of activity (a still desktop, typing, scrolling, full
// motion) and a frame counter in its top-left corner. Every time the counter
// changes, the time it reached the screen is logged, so that a viewer that
// reads the counter back from decoded video can tell how late it saw it.
//
//   screen_content --mode static|typing|scrolling|motion [--log FILE]
//                  [--duration-ms N] [--rate HZ] [--verify]
//
// --verify reads the corner back from the X server after every change and
// fails when the counter there is not the one just drawn.
#include "frame_counter.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo-xlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace dravnok::bench;

volatile std::sig_atomic_t stopRequested = 0;
void onStopSignal(int) { stopRequested = 1; }

enum class Mode { Still, Typing, Scrolling, Motion };

struct Options {
  Mode mode = Mode::Typing;
  std::string logPath;
  long durationMs = 0;
  double rateHz = 0;
  bool verify = false;
};

bool parseMode(std::string_view name, Mode& mode) {
  if (name == "static")
    mode = Mode::Still;
  else if (name == "typing")
    mode = Mode::Typing;
  else if (name == "scrolling")
    mode = Mode::Scrolling;
  else if (name == "motion")
    mode = Mode::Motion;
  else
    return false;
  return true;
}

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--mode" && hasValue) {
      if (!parseMode(argv[++i], options.mode)) return false;
    } else if (arg == "--log" && hasValue) {
      options.logPath = argv[++i];
    } else if (arg == "--duration-ms" && hasValue) {
      options.durationMs = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "--rate" && hasValue) {
      options.rateHz = std::strtod(argv[++i], nullptr);
    } else if (arg == "--verify") {
      options.verify = true;
    } else {
      return false;
    }
  }
  return true;
}

// How often each kind of content changes.
double defaultRate(Mode mode) {
  switch (mode) {
  case Mode::Still:
    return 0.1;
  case Mode::Typing:
    return 10;
  case Mode::Scrolling:
  case Mode::Motion:
    return 60;
  }
  return 10;
}

int64_t monotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Wall-clock milliseconds: the browser's clock on the same machine.
double wallMs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

void sleepUntilNs(int64_t deadline) {
  timespec ts{static_cast<time_t>(deadline / 1'000'000'000), static_cast<long>(deadline % 1'000'000'000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR && !stopRequested) {
  }
}

struct DisplayCloser {
  void operator()(Display* d) const { XCloseDisplay(d); }
};
struct SurfaceDestroy {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDestroy {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDestroy>;
using Context = std::unique_ptr<cairo_t, ContextDestroy>;

// Deterministic filler text: the same run always shows the same words.
class Words {
public:
  std::string line(size_t length) {
    static constexpr std::array<std::string_view, 24> words = {
        "session", "viewer",  "capture", "encode", "frame",  "packet", "latency", "cursor",
        "window",  "monitor", "pixel",   "stream", "buffer", "render", "thread",  "queue",
        "return",  "const",   "struct",  "while",  "if",     "for",    "int",     "value"};
    std::string text;
    while (text.size() < length) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      if (!text.empty()) text += ' ';
      text += words[(state >> 33) % words.size()];
    }
    return text;
  }

private:
  uint64_t state = 42;
};

class Content {
public:
  Content(Display* display, Mode mode) : display(display), mode(mode) {
    screen = DefaultScreen(display);
    width = DisplayWidth(display, screen);
    height = DisplayHeight(display, screen);
    visual = DefaultVisual(display, screen);
    depth = DefaultDepth(display, screen);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = WhitePixel(display, screen);
    window = XCreateWindow(display, RootWindow(display, screen), 0, 0, width, height, 0, depth, InputOutput, visual,
                           CWOverrideRedirect | CWBackPixel, &attributes);
    XSelectInput(display, window, ExposureMask);
    XMapRaised(display, window);
    for (XEvent event;;) {
      XNextEvent(display, &event);
      if (event.type == Expose) break;
    }
    gc = XCreateGC(display, window, 0, nullptr);
    counterPixmap = XCreatePixmap(display, window, kCounterWidth, kCounterHeight, depth);
    windowSurface.reset(cairo_xlib_surface_create(display, window, visual, width, height));
    prepare();
  }

  ~Content() {
    windowSurface.reset();
    if (tile) XFreePixmap(display, tile);
    XFreePixmap(display, counterPixmap);
    XFreeGC(display, gc);
    XDestroyWindow(display, window);
  }

  // Shows change number `step`, then counter `value`, and waits until the
  // server has done both.
  void draw(uint64_t step, uint16_t value) {
    switch (mode) {
    case Mode::Still:
      drawStill(step);
      break;
    case Mode::Typing:
      drawTyping(step);
      break;
    case Mode::Scrolling:
      XSetTSOrigin(display, gc, 0, -static_cast<int>((step * 4) % static_cast<uint64_t>(tileHeight)));
      XFillRectangle(display, window, gc, 0, 0, width, height);
      break;
    case Mode::Motion:
      XSetTSOrigin(display, gc, static_cast<int>((step * 5) % tileWidth), static_cast<int>((step * 3) % tileHeight));
      XFillRectangle(display, window, gc, 0, 0, width, height);
      break;
    }
    drawCounter(value);
    XSync(display, False);
  }

  std::optional<uint16_t> readBack() {
    XImage* image = XGetImage(display, window, 0, 0, kCounterWidth, kCounterHeight, AllPlanes, ZPixmap);
    if (!image) return std::nullopt;
    std::optional<uint16_t> value;
    if (image->bits_per_pixel == 32) {
      const auto* data = reinterpret_cast<const uint8_t*>(image->data);
      value = readCounter({data, static_cast<size_t>(image->bytes_per_line) * kCounterHeight}, image->bytes_per_line);
    }
    XDestroyImage(image);
    return value;
  }

private:
  // One copy from a pixmap, so that a screen grab never sees half a counter.
  void drawCounter(uint16_t value) {
    XSetFillStyle(display, gc, FillSolid);
    XSetForeground(display, gc, BlackPixel(display, screen));
    XFillRectangle(display, counterPixmap, gc, 0, 0, kCounterWidth, kCounterHeight);
    XSetForeground(display, gc, WhitePixel(display, screen));
    for (int row = 0; row < 2; ++row)
      for (int column = 0; column < kCounterBits; ++column)
        if (counterBlockLit(value, row, column))
          XFillRectangle(display, counterPixmap, gc, column * kCounterBlock, row * kCounterBlock, kCounterBlock,
                         kCounterBlock);
    XCopyArea(display, counterPixmap, window, gc, 0, 0, kCounterWidth, kCounterHeight, 0, 0);
    if (tile) XSetFillStyle(display, gc, FillTiled);
  }

  void prepare() {
    switch (mode) {
    case Mode::Still:
      paintDesktop();
      break;
    case Mode::Typing:
      paintEditor();
      break;
    case Mode::Scrolling:
      makeTile(width, 4 * height, [this](cairo_t* cr, int w, int h) { paintPage(cr, w, h); });
      break;
    case Mode::Motion:
      makeTile(512, 512, [](cairo_t* cr, int w, int h) { paintPattern(cr, w, h); });
      break;
    }
    XSync(display, False);
  }

  template <class Paint> void makeTile(int w, int h, Paint paint) {
    tileWidth = w;
    tileHeight = h;
    tile = XCreatePixmap(display, window, w, h, depth);
    {
      Surface surface(cairo_xlib_surface_create(display, tile, visual, w, h));
      Context cr(cairo_create(surface.get()));
      paint(cr.get(), w, h);
      cairo_surface_flush(surface.get());
    }
    XSetTile(display, gc, tile);
    XSetFillStyle(display, gc, FillTiled);
  }

  static void paintPattern(cairo_t* cr, int w, int h) {
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, 0, w, h);
    cairo_pattern_add_color_stop_rgb(gradient, 0, 0.1, 0.2, 0.6);
    cairo_pattern_add_color_stop_rgb(gradient, 0.5, 0.8, 0.4, 0.1);
    cairo_pattern_add_color_stop_rgb(gradient, 1, 0.1, 0.2, 0.6);
    cairo_set_source(cr, gradient);
    cairo_paint(cr);
    cairo_pattern_destroy(gradient);
    uint64_t state = 7;
    auto next = [&state](int range) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      return static_cast<int>((state >> 33) % static_cast<uint64_t>(range));
    };
    for (int i = 0; i < 60; ++i) {
      cairo_set_source_rgba(cr, next(100) / 100.0, next(100) / 100.0, next(100) / 100.0, 0.8);
      cairo_arc(cr, next(w), next(h), 8 + next(60), 0, 6.2832);
      cairo_fill(cr);
    }
  }

  void paintPage(cairo_t* cr, int w, int h) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 16);
    int y = 40;
    for (int paragraph = 0; y < h - 40; ++paragraph) {
      if (paragraph % 4 == 3) {
        // A picture in the page, as on a web page.
        cairo_set_source_rgb(cr, 0.2 + (paragraph % 5) * 0.15, 0.5, 0.8 - (paragraph % 3) * 0.2);
        cairo_rectangle(cr, 200, y, 600, 180);
        cairo_fill(cr);
        y += 210;
        continue;
      }
      cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
      for (int line = 0; line < 6 && y < h - 40; ++line, y += 24) {
        cairo_move_to(cr, 200, y);
        cairo_show_text(cr, words.line(std::min<size_t>(120, static_cast<size_t>(w - 400) / 9)).c_str());
      }
      y += 20;
    }
  }

  void paintDesktop() {
    Context cr(cairo_create(windowSurface.get()));
    cairo_set_source_rgb(cr.get(), 0.16, 0.32, 0.5);
    cairo_paint(cr.get());
    cairo_select_font_face(cr.get(), "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr.get(), 15);
    for (int i = 0; i < 3; ++i) {
      const double x = 200 + i * 520, y = 150 + i * 90;
      cairo_set_source_rgb(cr.get(), 0.95, 0.95, 0.95);
      cairo_rectangle(cr.get(), x, y, 640, 480);
      cairo_fill(cr.get());
      cairo_set_source_rgb(cr.get(), 0.25, 0.25, 0.3);
      cairo_rectangle(cr.get(), x, y, 640, 28);
      cairo_fill(cr.get());
      cairo_set_source_rgb(cr.get(), 0.1, 0.1, 0.1);
      for (int line = 0; line < 16; ++line) {
        cairo_move_to(cr.get(), x + 16, y + 60 + line * 24);
        cairo_show_text(cr.get(), words.line(60).c_str());
      }
    }
    cairo_surface_flush(windowSurface.get());
  }

  // A clock-like corner that changes once per step.
  void drawStill(uint64_t step) {
    Context cr(cairo_create(windowSurface.get()));
    cairo_set_source_rgb(cr.get(), 0.25, 0.25, 0.3);
    cairo_rectangle(cr.get(), width - 260, height - 60, 240, 40);
    cairo_fill(cr.get());
    cairo_set_source_rgb(cr.get(), 1, 1, 1);
    cairo_select_font_face(cr.get(), "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr.get(), 20);
    cairo_move_to(cr.get(), width - 240, height - 32);
    cairo_show_text(cr.get(), ("change " + std::to_string(step)).c_str());
    cairo_surface_flush(windowSurface.get());
  }

  void paintEditor() {
    Context cr(cairo_create(windowSurface.get()));
    cairo_set_source_rgb(cr.get(), 0.98, 0.98, 0.96);
    cairo_paint(cr.get());
    cairo_set_source_rgb(cr.get(), 0.85, 0.87, 0.9);
    cairo_rectangle(cr.get(), 0, 0, width, 40);
    cairo_fill(cr.get());
    cairo_surface_flush(windowSurface.get());
  }

  // One line per step, top to bottom; a full page starts over.
  void drawTyping(uint64_t step) {
    constexpr int top = 70, lineHeight = 22;
    const int lines = (height - top - 20) / lineHeight;
    const int line = static_cast<int>(step % static_cast<uint64_t>(lines));
    Context cr(cairo_create(windowSurface.get()));
    if (line == 0) {
      cairo_set_source_rgb(cr.get(), 0.98, 0.98, 0.96);
      cairo_rectangle(cr.get(), 0, top - lineHeight, width, height - top + lineHeight);
      cairo_fill(cr.get());
    }
    cairo_set_source_rgb(cr.get(), 0.1, 0.1, 0.15);
    cairo_select_font_face(cr.get(), "DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr.get(), 15);
    cairo_move_to(cr.get(), 60, top + line * lineHeight);
    cairo_show_text(cr.get(), words.line(90).c_str());
    cairo_surface_flush(windowSurface.get());
  }

  Display* display;
  Mode mode;
  int screen = 0, width = 0, height = 0, depth = 0;
  Visual* visual = nullptr;
  Window window = 0;
  GC gc = nullptr;
  Pixmap counterPixmap = 0;
  Pixmap tile = 0;
  int tileWidth = 1, tileHeight = 1;
  Surface windowSurface;
  Words words;
};

} // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: %s --mode static|typing|scrolling|motion [--log FILE] [--duration-ms N] "
                 "[--rate HZ] [--verify]\n",
                 argv[0]);
    return 2;
  }
  std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
  if (!display) {
    std::fprintf(stderr, "cannot open the X display\n");
    return 77;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> log(nullptr, std::fclose);
  if (!options.logPath.empty()) {
    log.reset(std::fopen(options.logPath.c_str(), "w"));
    if (!log) {
      std::perror(options.logPath.c_str());
      return 1;
    }
    // The benchmark reads the log while the content still runs.
    std::setvbuf(log.get(), nullptr, _IOLBF, 0);
  }
  std::signal(SIGTERM, onStopSignal);
  std::signal(SIGINT, onStopSignal);

  Content content(display.get(), options.mode);
  const double rate = options.rateHz > 0 ? options.rateHz : defaultRate(options.mode);
  const auto period = static_cast<int64_t>(1e9 / rate);
  const int64_t start = monotonicNs();
  const int64_t end = options.durationMs > 0 ? start + options.durationMs * 1'000'000 : INT64_MAX;
  uint16_t value = 1;
  int mismatches = 0;
  uint64_t step = 0;
  for (int64_t next = start; !stopRequested && next < end; next += period, ++step) {
    sleepUntilNs(next);
    if (stopRequested) break;
    content.draw(step, value);
    const double shownMs = wallMs();
    if (log) std::fprintf(log.get(), "%u %.3f\n", value, shownMs);
    if (options.verify && content.readBack() != value) {
      std::fprintf(stderr, "counter %u did not read back\n", value);
      ++mismatches;
    }
    value = static_cast<uint16_t>(value + 1);
    // Falling behind skips steps instead of drawing in a burst.
    const int64_t now = monotonicNs();
    if (now > next + period) next += (now - next) / period * period;
  }
  if (options.verify)
    std::printf("%llu changes drawn, %d unreadable\n", static_cast<unsigned long long>(step), mismatches);
  return mismatches == 0 ? 0 : 1;
}
