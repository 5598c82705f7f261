#pragma once
// Owned X resources and the screen reading both the capturer and the probe
// use.
#include "capture/monitor_info.h"

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dravnok::capture::x11 {

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// The monitors of one X screen: XRandR monitors, or one covering the screen
// when the server defines none. Sorted, with one primary.
std::vector<MonitorInfo> listMonitors(Display* display, int screen);

// Reads rectangles of one screen's root window into a reused image, through
// shared memory when the server offers it.
class ScreenReader {
public:
  ScreenReader(Display* display, int screen);
  ~ScreenReader();
  ScreenReader(const ScreenReader&) = delete;
  ScreenReader& operator=(const ScreenReader&) = delete;

  // Reads the rectangle; false (with `error`) when the server refuses it or
  // its pixels are not 32-bit BGRA.
  bool read(int32_t left, int32_t top, int32_t width, int32_t height, std::string& error);
  const uint8_t* pixels() const;
  int64_t pitch() const;
  bool usesSharedMemory() const { return shmWanted; }

private:
  bool makeImage(int32_t width, int32_t height);
  void freeImage();

  Display* display;
  int screen;
  bool shmWanted;
  XImage* image = nullptr;
  XShmSegmentInfo shm{};
  bool shmAttached = false;
};

} // namespace dravnok::capture::x11
