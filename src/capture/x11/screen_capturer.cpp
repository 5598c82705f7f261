#include "capture/x11/screen_capturer.h"

#include "capture/encode_size.h"
#include "capture/x11/damage_watch.h"
#include "capture/x11/x_display.h"

#include <chrono>
#include <cstring>

namespace dravnok::capture {

namespace x11 {
struct DisplayHandle {
  DisplayPtr display;
};
} // namespace x11

namespace {

int64_t nowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// How often a still screen is copied anyway.
constexpr uint64_t kUnreportedChangeCheckMs = 1000;

} // namespace

int64_t timestampFrequency() { return 1'000'000'000; }

ScreenCapturer::ScreenCapturer() = default;

// The reader and the damage watch use the display: they go first.
ScreenCapturer::~ScreenCapturer() {
  damage.reset();
  for (Copy& copy : copies) copy.reader.reset();
}

uint64_t ScreenCapturer::tickCount() { return static_cast<uint64_t>(nowNanoseconds() / 1'000'000); }

bool ScreenCapturer::init(uint32_t maxDimensionIn, std::string& error) {
  maxDimension = maxDimensionIn;
  damage.reset();
  for (Copy& copy : copies) copy.reader.reset();
  havePrevious = false;
  display = std::make_unique<x11::DisplayHandle>();
  display->display.reset(XOpenDisplay(nullptr));
  if (!display->display) {
    error = "cannot open the X display";
    return false;
  }
  Display* dpy = display->display.get();
  const int screen = DefaultScreen(dpy);
  acquisition.monitors = x11::listMonitors(dpy, screen);
  for (Copy& copy : copies) copy.reader = std::make_unique<x11::ScreenReader>(dpy, screen);
  damage = std::make_unique<x11::DamageWatch>(dpy, RootWindow(dpy, screen));
  const MonitorInfo& first = acquisition.monitors.front();
  left = first.left;
  top = first.top;
  width = first.width;
  height = first.height;
  acquisition.gdiMode = true;
  if (width <= 0 || height <= 0) {
    left = top = 0;
    width = DisplayWidth(dpy, screen);
    height = DisplayHeight(dpy, screen);
  }
  if (width <= 0 || height <= 0) {
    error = "no capturable display (no screen size)";
    return false;
  }
  EncodeSize size = computeEncodeSize(width, height, maxDimension);
  encodeWidth = size.width;
  encodeHeight = size.height;
  acquisition.currentMonitor = monitorAtOrigin(acquisition.monitors, left, top);
  return true;
}

std::string ScreenCapturer::captureMethod() const {
  const bool shared = copies[0].reader && copies[0].reader->usesSharedMemory();
  return shared ? "X11 shared-memory screen copy" : "X11 screen copy";
}

void ScreenCapturer::acquireFrame(CapturedFrame& out, int timeoutMs) {
  if (!copies[0].reader) {
    out = CapturedFrame{};
    return;
  }
  // While streaming, wait for the screen to change instead of copying it
  // again and again to find out.
  if (acquisition.gdiMode && acquisition.skipUnchangedGdiFrames && havePrevious && damage->active())
    damage->waitForChange(timeoutMs);
  acquisition.acquireFrame(out, timeoutMs);
}

void ScreenCapturer::setCaptureRectangle(const MonitorInfo& monitor) {
  left = monitor.left;
  top = monitor.top;
  width = monitor.width;
  height = monitor.height;
  havePrevious = false;
}

bool ScreenCapturer::captureScreenCopy(CapturedFrame& out, bool skipUnchanged) {
  const int32_t targetWidth = encodeWidth > 0 ? encodeWidth : width;
  const int32_t targetHeight = encodeHeight > 0 ? encodeHeight : height;
  if (width <= 0 || height <= 0 || targetWidth <= 0 || targetHeight <= 0) return false;
  if (skipUnchanged && havePrevious) {
    // Nothing drawn, nothing to copy; once a second it copies anyway, in
    // case something reached the screen without being reported.
    const uint64_t tick = tickCount();
    if (!damage->takeChange() && tick - lastCopyTick < kUnreportedChangeCheckMs) return false;
  }
  lastCopyTick = tickCount();
  Copy& copy = copies[current];
  std::string error;
  if (!copy.reader->read(left, top, width, height, error)) return false;
  const uint8_t* pixels = copy.reader->pixels();
  const int64_t pitch = copy.reader->pitch();
  const size_t rowBytes = static_cast<size_t>(targetWidth) * 4;
  const size_t imageBytes = rowBytes * static_cast<size_t>(targetHeight);
  if (targetWidth != width || targetHeight != height || pitch != static_cast<int64_t>(rowBytes)) {
    maps.update(static_cast<uint32_t>(width), static_cast<uint32_t>(height), static_cast<uint32_t>(targetWidth),
                static_cast<uint32_t>(targetHeight));
    copy.scaled.resize(imageBytes);
    for (int32_t y = 0; y < targetHeight; ++y) {
      const uint8_t* source = pixels + maps.rows[y] * pitch;
      uint8_t* dest = copy.scaled.data() + rowBytes * y;
      for (int32_t x = 0; x < targetWidth; ++x) std::memcpy(dest + 4 * x, source + maps.columns[x], 4);
    }
    pixels = copy.scaled.data();
  }
  copy.pixels = pixels;
  if (skipUnchanged) {
    const Copy& previous = copies[current ^ 1];
    if (havePrevious && std::memcmp(previous.pixels, pixels, imageBytes) == 0) return false;
    // This image becomes the one to compare with; the next copy goes into
    // the other one, so what is handed out now stays intact until then.
    current ^= 1;
    havePrevious = true;
  }
  out = CapturedFrame{nowNanoseconds(),
                      true,
                      pixels,
                      static_cast<uint32_t>(rowBytes),
                      static_cast<uint32_t>(targetWidth),
                      static_cast<uint32_t>(targetHeight)};
  return true;
}

} // namespace dravnok::capture
