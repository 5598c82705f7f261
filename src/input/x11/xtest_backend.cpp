// Injection into an X display with the XTest extension. The shared monitor
// is a rectangle of the X screen, which is the whole virtual desktop here.
#include "input/input_backend.h"
#include "input/x11/key_symbols.h"
#include "input/x11/unicode_typer.h"
#include "input/x11/x_error_trap.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

namespace dravnok {
namespace {

struct DisplayCloser {
  void operator()(Display* display) const {
    if (display) XCloseDisplay(display);
  }
};

// Wheel amounts arrive in Windows units (120 a notch) and leave as clicks of
// the X wheel buttons; the remainder waits for the next turn the same way.
class WheelAccumulator {
public:
  // Whole notches to click now: positive away from the user (or right).
  int add(int32_t amount) {
    if ((amount > 0 && rest_ < 0) || (amount < 0 && rest_ > 0)) rest_ = 0;
    rest_ += amount;
    int64_t notches = rest_ / wheelDelta;
    rest_ -= notches * wheelDelta;
    return int(std::clamp<int64_t>(notches, -10000, 10000));
  }

private:
  int64_t rest_ = 0;
};

char32_t combineSurrogates(std::u16string_view units, size_t& i) {
  char16_t unit = units[i];
  if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
    char32_t high = unit - 0xD800, low = units[++i] - 0xDC00;
    return 0x10000 + (high << 10) + low;
  }
  if (unit >= 0xD800 && unit <= 0xDFFF) return 0xFFFD;
  return unit;
}

class XTestBackend final : public InputBackend {
public:
  XTestBackend() : display_(XOpenDisplay(nullptr)) {
    int event = 0, error = 0, major = 0, minor = 0;
    if (display_ && !XTestQueryExtension(display_.get(), &event, &error, &major, &minor)) display_.reset();
    if (display_) {
      typer_ = std::make_unique<x11::UnicodeTyper>(display_.get(), [this](int ms) { pause(ms); });
      activeWindowAtom_ = XInternAtom(display_.get(), "_NET_ACTIVE_WINDOW", False);
      pidAtom_ = XInternAtom(display_.get(), "_NET_WM_PID", False);
    }
  }

  void send(std::span<const InputRecord> records) override {
    if (!display_) return;
    typer_->releaseIdle();
    std::u16string text;
    for (const InputRecord& record : records) {
      if (const auto* mouse = std::get_if<MouseInput>(&record)) {
        flushText(text);
        sendMouse(*mouse);
        continue;
      }
      const auto& key = std::get<KeyboardInput>(record);
      if (key.flags & keyflag::unicode) {
        // Typed characters are pressed and released as a whole once the
        // units are gathered, so that surrogate pairs come out as one.
        if (!(key.flags & keyflag::keyUp)) text.push_back(char16_t(key.scan));
        continue;
      }
      flushText(text);
      sendKey(key);
    }
    flushText(text);
    XFlush(display_.get());
  }

  VirtualDesktop virtualDesktop() override {
    if (!display_) return {};
    int screen = DefaultScreen(display_.get());
    return {0, 0, DisplayWidth(display_.get(), screen), DisplayHeight(display_.get(), screen)};
  }

  uint32_t currentProcessId() override { return uint32_t(getpid()); }

  uint32_t foregroundProcessId() override {
    if (!display_) return 0;
    x11::XErrorTrap trap(display_.get());
    unsigned long window = cardinalProperty(DefaultRootWindow(display_.get()), activeWindowAtom_, XA_WINDOW);
    if (window == 0) return 0;
    return uint32_t(cardinalProperty(Window(window), pidAtom_, XA_CARDINAL));
  }

  void pause(int milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

  // X has no secure attention sequence to ask for.
  void secureAttention() override {}

private:
  void sendMouse(const MouseInput& mouse) {
    Display* display = display_.get();
    if ((mouse.flags & mouseflag::move) && (mouse.flags & mouseflag::absolute)) {
      VirtualDesktop desktop = virtualDesktop();
      XTestFakeMotionEvent(display, DefaultScreen(display), toPixel(mouse.dx, desktop.left, desktop.width),
                           toPixel(mouse.dy, desktop.top, desktop.height), CurrentTime);
    }
    struct ButtonFlag {
      uint32_t flag;
      unsigned button;
      bool down;
    };
    static constexpr ButtonFlag buttons[] = {
        {mouseflag::leftDown, 1, true},  {mouseflag::leftUp, 1, false},   {mouseflag::middleDown, 2, true},
        {mouseflag::middleUp, 2, false}, {mouseflag::rightDown, 3, true}, {mouseflag::rightUp, 3, false},
    };
    for (const ButtonFlag& entry : buttons) {
      if (mouse.flags & entry.flag) XTestFakeButtonEvent(display, entry.button, entry.down, CurrentTime);
    }
    if (mouse.flags & mouseflag::wheel) clickWheel(vertical_.add(mouse.mouseData), 4, 5);
    if (mouse.flags & mouseflag::hwheel) clickWheel(horizontal_.add(mouse.mouseData), 7, 6);
  }

  void clickWheel(int notches, unsigned positiveButton, unsigned negativeButton) {
    unsigned button = notches > 0 ? positiveButton : negativeButton;
    for (int i = 0; i < std::abs(notches); ++i) {
      XTestFakeButtonEvent(display_.get(), button, True, CurrentTime);
      XTestFakeButtonEvent(display_.get(), button, False, CurrentTime);
    }
  }

  void sendKey(const KeyboardInput& key) {
    unsigned long keysym = x11::keysymForVirtualKey(key.vk, key.flags & keyflag::extendedKey);
    if (keysym == NoSymbol) return;
    KeyCode keycode = XKeysymToKeycode(display_.get(), keysym);
    // A key the current keyboard lacks is dropped, as an unknown name is.
    if (keycode == 0) return;
    XTestFakeKeyEvent(display_.get(), keycode, !(key.flags & keyflag::keyUp), CurrentTime);
  }

  void flushText(std::u16string& text) {
    if (text.empty()) return;
    std::u32string characters;
    for (size_t i = 0; i < text.size(); ++i) characters.push_back(combineSurrogates(text, i));
    text.clear();
    typer_->type(characters);
  }

  static int toPixel(int32_t normalized, int32_t origin, int32_t size) {
    long pixel = std::lround(double(normalized) * size / normalizedMax);
    return origin + int(std::clamp<long>(pixel, 0, std::max(size - 1, 0)));
  }

  // A 32-bit property's first value; 0 when absent or unreadable.
  unsigned long cardinalProperty(Window window, Atom property, Atom type) {
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    int status = XGetWindowProperty(display_.get(), window, property, 0, 1, False, type, &actualType, &actualFormat,
                                    &count, &after, &data);
    unsigned long value = 0;
    if (status == Success && data && actualType == type && actualFormat == 32 && count >= 1) {
      value = reinterpret_cast<unsigned long*>(data)[0];
    }
    if (data) XFree(data);
    return value;
  }

  std::unique_ptr<Display, DisplayCloser> display_;
  std::unique_ptr<x11::UnicodeTyper> typer_;
  Atom activeWindowAtom_ = None;
  Atom pidAtom_ = None;
  WheelAccumulator vertical_;
  WheelAccumulator horizontal_;
};

} // namespace

std::unique_ptr<InputBackend> makeSystemInputBackend() { return std::make_unique<XTestBackend>(); }

} // namespace dravnok
