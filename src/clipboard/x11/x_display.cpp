#include "clipboard/x11/x_display.h"

#include <algorithm>
#include <mutex>
#include <poll.h>
#include <vector>

namespace dravnok::clipboard {
namespace {

// Xlib has one error handler per process. Ours swallows errors on our
// connections and hands every other one to whoever was there before.
struct ErrorTrap {
  std::mutex mutex;
  std::vector<Display*> displays;
  XErrorHandler previous = nullptr;
};

ErrorTrap& trap() {
  static ErrorTrap instance;
  return instance;
}

int handleError(Display* display, XErrorEvent* error) {
  ErrorTrap& t = trap();
  XErrorHandler previous;
  {
    std::lock_guard lock(t.mutex);
    if (std::find(t.displays.begin(), t.displays.end(), display) != t.displays.end()) return 0;
    previous = t.previous;
  }
  return previous ? previous(display, error) : 0;
}

} // namespace

void DisplayCloser::operator()(Display* display) const {
  {
    std::lock_guard lock(trap().mutex);
    std::erase(trap().displays, display);
  }
  XCloseDisplay(display);
}

DisplayConnection openDisplay() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    XErrorHandler previous = XSetErrorHandler(handleError);
    std::lock_guard lock(trap().mutex);
    trap().previous = previous;
  });
  Display* display = XOpenDisplay(nullptr);
  if (!display) return nullptr;
  std::lock_guard lock(trap().mutex);
  trap().displays.push_back(display);
  return DisplayConnection(display);
}

bool waitForDisplay(Display* display, int wakeFd, int timeoutMs) {
  if (XPending(display) > 0) return true;
  pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {wakeFd, POLLIN, 0}};
  int ready = poll(fds, wakeFd >= 0 ? 2 : 1, timeoutMs);
  return ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

} // namespace dravnok::clipboard
