#pragma once
// One X connection per user: Xlib displays are not shared between threads.
#include <X11/Xlib.h>

#include <memory>

namespace dravnok::clipboard {

struct DisplayCloser {
  void operator()(Display* display) const;
};
using DisplayConnection = std::unique_ptr<Display, DisplayCloser>;

// Opens $DISPLAY. Protocol errors on this connection (a requestor window
// that vanished mid-transfer) are ignored instead of ending the process.
DisplayConnection openDisplay();

// Waits until the connection has something to read or `wakeFd` (when not
// -1) is readable, at most `timeoutMs` (-1: no limit). True when the
// connection is readable.
bool waitForDisplay(Display* display, int wakeFd, int timeoutMs);

} // namespace dravnok::clipboard
