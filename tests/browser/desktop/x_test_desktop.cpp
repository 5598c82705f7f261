// A desktop to look at and to control in the browser session tests: solid
// panels, a window whose picture keeps changing, and a window that reports
// the button and key events it receives as JSON lines on standard output.
//
//   x_test_desktop [--panel X,Y,W,H,RRGGBB]... [--animate X,Y,W,H] [--events X,Y,W,H]
//
// It prints {"ready":true} once every window is on the screen and runs until
// its standard input closes.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Rect {
  int x = 0, y = 0;
  unsigned w = 1, h = 1;
};

bool parseRect(const char* text, Rect& r, unsigned long* colour) {
  int x, y;
  unsigned w, h;
  unsigned long c = 0;
  int n = std::sscanf(text, "%d,%d,%u,%u,%lx", &x, &y, &w, &h, &c);
  if (n < 4 || (colour && n != 5) || w == 0 || h == 0) return false;
  r = {x, y, w, h};
  if (colour) *colour = c;
  return true;
}

void emit(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

Window makeWindow(Display* display, const Rect& r, unsigned long background, long events) {
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True; // no window manager on the test desktop
  attributes.background_pixel = background;
  attributes.event_mask = events | StructureNotifyMask;
  Window w = XCreateWindow(display, DefaultRootWindow(display), r.x, r.y, r.w, r.h, 0, CopyFromParent, InputOutput,
                           CopyFromParent, CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
  XMapRaised(display, w);
  return w;
}

// A grid of blocks whose colours all change every frame, and a white square
// that crosses it: enough change for the encoder to work at every frame.
void paintFrame(Display* display, Window w, GC gc, const Rect& r, unsigned frame) {
  constexpr unsigned cols = 16, rows = 9;
  for (unsigned j = 0; j < rows; ++j) {
    for (unsigned i = 0; i < cols; ++i) {
      unsigned v = (i * 37 + j * 91 + frame * 7) & 0xFF;
      XSetForeground(display, gc, (v << 16) | (((v * 3) & 0xFF) << 8) | (255 - v));
      XFillRectangle(display, w, gc, int(i * r.w / cols), int(j * r.h / rows), r.w / cols + 1, r.h / rows + 1);
    }
  }
  XSetForeground(display, gc, 0xFFFFFF);
  unsigned side = r.h / 5;
  XFillRectangle(display, w, gc, int((frame * 12) % (r.w - side)), int(r.h / 2 - side / 2), side, side);
}

} // namespace

int main(int argc, char** argv) {
  struct Panel {
    Rect r;
    unsigned long colour;
  };
  std::vector<Panel> panels;
  Rect animate, events;
  bool hasAnimate = false, hasEvents = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    bool ok = false;
    if (!std::strcmp(argv[i], "--panel")) {
      Panel p;
      ok = parseRect(argv[i + 1], p.r, &p.colour);
      panels.push_back(p);
    } else if (!std::strcmp(argv[i], "--animate")) {
      ok = hasAnimate = parseRect(argv[i + 1], animate, nullptr);
    } else if (!std::strcmp(argv[i], "--events")) {
      ok = hasEvents = parseRect(argv[i + 1], events, nullptr);
    }
    if (!ok) {
      std::fprintf(stderr, "x_test_desktop: bad argument %s %s\n", argv[i], argv[i + 1]);
      return 2;
    }
  }
  std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
  if (!display) {
    std::fprintf(stderr, "x_test_desktop: cannot open the display\n");
    return 1;
  }
  Display* d = display.get();

  int unmapped = 0;
  for (const auto& p : panels) {
    makeWindow(d, p.r, p.colour, 0);
    ++unmapped;
  }
  Window animated = None, logger = None;
  GC gc = nullptr;
  if (hasAnimate) {
    animated = makeWindow(d, animate, 0, 0);
    gc = XCreateGC(d, animated, 0, nullptr);
    ++unmapped;
  }
  if (hasEvents) {
    logger = makeWindow(d, events, 0xF0F0F0, ButtonPressMask | ButtonReleaseMask | KeyPressMask | KeyReleaseMask);
    ++unmapped;
  }
  XFlush(d);

  unsigned frame = 0;
  bool ready = false;
  pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  for (;;) {
    while (XPending(d)) {
      XEvent ev;
      XNextEvent(d, &ev);
      char line[256];
      switch (ev.type) {
      case MapNotify:
        if (--unmapped == 0 && !ready) {
          if (logger != None) XSetInputFocus(d, logger, RevertToPointerRoot, CurrentTime);
          XSync(d, False);
          ready = true;
          emit(R"({"ready":true})");
        }
        break;
      case ButtonPress:
      case ButtonRelease:
        std::snprintf(line, sizeof line, R"({"e":"%s","button":%u,"x":%d,"y":%d,"rx":%d,"ry":%d})",
                      ev.type == ButtonPress ? "down" : "up", ev.xbutton.button, ev.xbutton.x, ev.xbutton.y,
                      ev.xbutton.x_root, ev.xbutton.y_root);
        emit(line);
        break;
      case KeyPress:
      case KeyRelease: {
        char text[16];
        KeySym keysym = NoSymbol;
        XLookupString(&ev.xkey, text, sizeof text, &keysym, nullptr);
        const char* name = XKeysymToString(keysym);
        std::snprintf(line, sizeof line, R"({"e":"%s","keysym":"%s"})", ev.type == KeyPress ? "keydown" : "keyup",
                      name ? name : "");
        emit(line);
        break;
      }
      default:
        break;
      }
    }
    if (animated != None && ready) {
      paintFrame(d, animated, gc, animate, frame++);
      XFlush(d);
    }
    if (poll(fds, 2, animated != None ? 33 : -1) < 0) break;
    if (fds[1].revents) {
      char buffer[256];
      if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) break;
    }
  }
  if (gc) XFreeGC(d, gc);
  return 0;
}
