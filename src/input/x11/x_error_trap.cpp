#include "input/x11/x_error_trap.h"

#include <mutex>

namespace dravnok::x11 {
namespace {

// Xlib has one error handler per process, so one trap at a time; errors of
// other connections go on to whichever handler was there before.
std::mutex trapMutex;
Display* trappedDisplay = nullptr;
bool errorSeen = false;
XErrorHandler outerHandler = nullptr;

int trapHandler(Display* display, XErrorEvent* event) {
  if (display == trappedDisplay) {
    errorSeen = true;
    return 0;
  }
  return outerHandler ? outerHandler(display, event) : 0;
}

} // namespace

XErrorTrap::XErrorTrap(Display* display) : display_(display) {
  trapMutex.lock();
  // Errors of earlier requests belong to whoever made them.
  XSync(display_, False);
  trappedDisplay = display_;
  errorSeen = false;
  previous_ = XSetErrorHandler(trapHandler);
  outerHandler = previous_;
}

XErrorTrap::~XErrorTrap() {
  XSync(display_, False);
  XSetErrorHandler(previous_);
  trappedDisplay = nullptr;
  outerHandler = nullptr;
  trapMutex.unlock();
}

bool XErrorTrap::failed() {
  XSync(display_, False);
  return errorSeen;
}

} // namespace dravnok::x11
