#pragma once
// Catches the X errors of a few requests on one connection, which Xlib's
// default handler would answer by ending the process (a window that went
// away between two requests is normal on a live desktop).
#include <X11/Xlib.h>

namespace dravnok::x11 {

class XErrorTrap {
public:
  explicit XErrorTrap(Display* display);
  ~XErrorTrap();
  XErrorTrap(const XErrorTrap&) = delete;
  XErrorTrap& operator=(const XErrorTrap&) = delete;

  // Waits for the server and tells whether any trapped request failed.
  bool failed();

private:
  Display* display_;
  XErrorHandler previous_;
};

} // namespace dravnok::x11
