// The probe on an X display: one line per screen ("adapter") and monitor
// ("output"), each monitor read once and judged like a duplicated frame.
#include "capture/frame_brightness.h"
#include "capture/x11/x_display.h"
#include "diagnostics/modes.h"
#include "diagnostics/probe_line.h"

#include <cstdio>

namespace dravnok::diagnostics {

int runDisplayProbe() {
  capture::x11::DisplayPtr display(XOpenDisplay(nullptr));
  if (!display) {
    std::fprintf(stderr, "probe: XOpenDisplay failed\n");
    return 1;
  }
  Display* dpy = display.get();
  const std::string name = DisplayString(dpy);
  for (int screen = 0; screen < ScreenCount(dpy); ++screen) {
    const auto monitors = capture::x11::listMonitors(dpy, screen);
    capture::x11::ScreenReader reader(dpy, screen);
    for (size_t i = 0; i < monitors.size(); ++i) {
      const auto& monitor = monitors[i];
      ProbeResult result;
      result.adapter = static_cast<unsigned>(screen);
      result.adapterName = name + " screen " + std::to_string(screen);
      result.output = static_cast<unsigned>(i);
      result.attached = true;
      result.descWidth = monitor.width;
      result.descHeight = monitor.height;
      std::string error;
      if (reader.read(monitor.left, monitor.top, monitor.width, monitor.height, error)) {
        result.textureWidth = monitor.width;
        result.textureHeight = monitor.height;
        result.brightness =
            capture::meanBrightness(reader.pixels(), reader.pitch(), static_cast<uint32_t>(monitor.width),
                                    static_cast<uint32_t>(monitor.height), 8);
      }
      std::fputs(probeLine(result).c_str(), stderr);
    }
  }
  return 0;
}

} // namespace dravnok::diagnostics
