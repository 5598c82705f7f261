// Clipboard changes on X11 arrive as XFixes selection notifications on a
// connection of the watcher's own.
#include "clipboard/clipboard_watcher.h"
#include "clipboard/x11/x_display.h"

#include <X11/extensions/Xfixes.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace dravnok::clipboard {

struct WatcherPlatform {
  int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  ~WatcherPlatform() {
    if (wakeFd >= 0) close(wakeFd);
  }
};

void WatcherPlatformDeleter::operator()(WatcherPlatform* platform) const { delete platform; }

std::unique_ptr<WatcherPlatform, WatcherPlatformDeleter> makeWatcherPlatform() {
  return std::unique_ptr<WatcherPlatform, WatcherPlatformDeleter>(new WatcherPlatform);
}

void wakeWatcherThread(WatcherPlatform& platform) {
  uint64_t one = 1;
  if (write(platform.wakeFd, &one, sizeof one) < 0) {
    // Saturated: the thread is being woken anyway.
  }
}

void runWatcherThread(ClipboardWatcher& watcher, WatcherPlatform& platform, const std::atomic<bool>& running) {
  DisplayConnection display = openDisplay();
  if (!display) {
    watcher.logLine("warn", "clipboard watcher: window create failed");
    watcher.gaveUp();
    return;
  }
  Display* d = display.get();
  // Notifications only report later changes, so what is on the clipboard
  // now is never pushed.
  watcher.setLastSeen(0);
  int eventBase = 0, errorBase = 0;
  if (XFixesQueryExtension(d, &eventBase, &errorBase)) {
    XFixesSelectSelectionInput(d, DefaultRootWindow(d), XInternAtom(d, "CLIPBOARD", False),
                               XFixesSetSelectionOwnerNotifyMask);
    XFlush(d);
    watcher.logLine("info", "clipboard watcher started");
  } else {
    watcher.logLine("warn", "clipboard watcher: selection notifications unavailable");
  }
  while (running.load()) {
    while (XPending(d) > 0) {
      XEvent event;
      XNextEvent(d, &event);
      if (event.type != eventBase + XFixesSelectionNotify) continue;
      const auto& change = reinterpret_cast<const XFixesSelectionNotifyEvent&>(event);
      // The selection's time identifies the change; our own placements
      // record that same time as their sequence number.
      if (change.owner != None) watcher.onClipboardChanged(static_cast<uint32_t>(change.selection_timestamp));
    }
    if (!running.load()) break;
    waitForDisplay(d, platform.wakeFd, -1);
    uint64_t count;
    while (read(platform.wakeFd, &count, sizeof count) > 0) {
    }
  }
  display.reset();
  watcher.logLine("info", "clipboard watcher stopped");
}

} // namespace dravnok::clipboard
