// The XTest backend on a live X display: a window of our own records what
// arrives while the injector works. Run on a private server (two XRandR
// monitors side by side), since it moves the one pointer and takes focus.
#include "input/input_injector.h"

// GoogleTest before Xlib, whose macros (None, Bool) would break it.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace dravnok;
using namespace std::chrono_literals;

namespace {

struct Seen {
  int type = 0;
  unsigned button = 0;
  KeySym keysym = NoSymbol;
  unsigned state = 0;
  int x = 0;
  int y = 0;
};

// A window over the whole screen with the keyboard focus. Its own thread
// handles events as they come, as a desktop program would, so that it reads
// the keyboard map while temporary bindings still hold.
class RecordingWindow {
public:
  RecordingWindow() : display_(XOpenDisplay(nullptr)) {
    if (!display_) return;
    int screen = DefaultScreen(display_);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
    window_ = XCreateWindow(display_, RootWindow(display_, screen), 0, 0, DisplayWidth(display_, screen),
                            DisplayHeight(display_, screen), 0, CopyFromParent, InputOutput, CopyFromParent,
                            CWOverrideRedirect | CWEventMask, &attributes);
    XMapRaised(display_, window_);
    XEvent event;
    do XWindowEvent(display_, window_, StructureNotifyMask, &event);
    while (event.type != MapNotify);
    XSetInputFocus(display_, window_, RevertToPointerRoot, CurrentTime);
    XSync(display_, False);
    pump_ = std::thread([this] { pump(); });
  }

  ~RecordingWindow() {
    if (!display_) return;
    stop_ = true;
    pump_.join();
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
  }

  bool ok() const { return display_ != nullptr; }
  Window window() const { return window_; }

  // The events of the given types (and passing `filter`) seen so far, once
  // there are `count` of them or the time is up.
  std::vector<Seen> await(size_t count, std::vector<int> types, std::chrono::milliseconds limit = 3s,
                          std::function<bool(const Seen&)> filter = nullptr) {
    std::unique_lock lock(mutex_);
    std::vector<Seen> matching;
    arrived_.wait_for(lock, limit, [&] {
      matching.clear();
      for (const Seen& seen : seen_) {
        if (std::find(types.begin(), types.end(), seen.type) == types.end()) continue;
        if (!filter || filter(seen)) matching.push_back(seen);
      }
      return matching.size() >= count;
    });
    return matching;
  }

  void clear() {
    std::lock_guard lock(mutex_);
    seen_.clear();
  }

private:
  void pump() {
    pollfd connection{ConnectionNumber(display_), POLLIN, 0};
    while (!stop_) {
      while (XPending(display_)) {
        XEvent event;
        XNextEvent(display_, &event);
        record(event);
      }
      poll(&connection, 1, 5);
    }
  }

  void record(XEvent& event) {
    Seen seen{event.type};
    switch (event.type) {
    case MappingNotify:
      XRefreshKeyboardMapping(&event.xmapping);
      return;
    case KeyPress:
    case KeyRelease: {
      char text[16];
      XLookupString(&event.xkey, text, sizeof text, &seen.keysym, nullptr);
      seen.state = event.xkey.state;
      break;
    }
    case ButtonPress:
    case ButtonRelease:
      seen.button = event.xbutton.button;
      seen.state = event.xbutton.state;
      seen.x = event.xbutton.x_root;
      seen.y = event.xbutton.y_root;
      break;
    default:
      return;
    }
    std::lock_guard lock(mutex_);
    seen_.push_back(seen);
    arrived_.notify_all();
  }

  Display* display_;
  Window window_ = None;
  std::thread pump_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Seen> seen_;
};

struct Rect {
  int x, y, width, height;
};

char32_t characterOf(KeySym keysym) {
  if (keysym == XK_Return) return U'\n';
  if (keysym <= 0xFF) return char32_t(keysym);
  if ((keysym & 0xFF000000) == 0x01000000) return char32_t(keysym & 0xFFFFFF);
  return 0;
}

// UTF-8 of characters from U+0800 to U+FFFF.
std::string threeByteUtf8(std::u32string_view text) {
  std::string out;
  for (char32_t c : text) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
  return out;
}

bool isModifier(KeySym keysym) { return IsModifierKey(keysym); }

class XInjection : public ::testing::Test {
protected:
  void SetUp() override {
    query_ = XOpenDisplay(nullptr);
    if (!query_) GTEST_SKIP() << "no X display";
    ASSERT_TRUE(window_.ok());
    int screen = DefaultScreen(query_);
    screenWidth_ = DisplayWidth(query_, screen);
    screenHeight_ = DisplayHeight(query_, screen);
    // The shared monitor: one that does not start at the origin, as on a
    // two-monitor desktop; without XRandR monitors, the screen's right half.
    shared_ = {screenWidth_ / 2, 0, screenWidth_ - screenWidth_ / 2, screenHeight_};
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(query_, DefaultRootWindow(query_), True, &count);
    for (int i = 0; i < count; ++i) {
      if (monitors[i].x > 0) shared_ = {monitors[i].x, monitors[i].y, monitors[i].width, monitors[i].height};
      if (monitors[i].x == 0 && monitors[i].y == 0) first_ = {0, 0, monitors[i].width, monitors[i].height};
    }
    monitorCount_ = count;
    if (monitors) XRRFreeMonitors(monitors);
  }

  void TearDown() override {
    if (query_) XCloseDisplay(query_);
  }

  std::unique_ptr<InputInjector> injectorOn(Rect rect, uint32_t agentPid = 0) {
    return std::make_unique<InputInjector>(false, rect.width, rect.height, rect.x, rect.y, agentPid);
  }

  // Where the pointer is, once it has reached `expected` or time is up.
  std::pair<int, int> pointerNear(int x, int y) {
    int rootX = -1, rootY = -1;
    for (int i = 0; i < 200; ++i) {
      Window root, child;
      int winX, winY;
      unsigned mask;
      XQueryPointer(query_, DefaultRootWindow(query_), &root, &child, &rootX, &rootY, &winX, &winY, &mask);
      if (std::abs(rootX - x) <= 1 && std::abs(rootY - y) <= 1) break;
      std::this_thread::sleep_for(10ms);
    }
    return {rootX, rootY};
  }

  std::vector<KeySym> keyboardMap() {
    int min = 0, max = 0, per = 0;
    XDisplayKeycodes(query_, &min, &max);
    KeySym* symbols = XGetKeyboardMapping(query_, KeyCode(min), max - min + 1, &per);
    std::vector<KeySym> copy(symbols, symbols + (max - min + 1) * per);
    XFree(symbols);
    return copy;
  }

  // Keycodes without any symbol: what the typer may borrow.
  int spareKeycodes() {
    int min = 0, max = 0, per = 0;
    XDisplayKeycodes(query_, &min, &max);
    KeySym* symbols = XGetKeyboardMapping(query_, KeyCode(min), max - min + 1, &per);
    int spare = 0;
    for (int code = 0; code <= max - min; ++code)
      spare += std::all_of(symbols + code * per, symbols + (code + 1) * per, [](KeySym s) { return s == NoSymbol; });
    XFree(symbols);
    return spare;
  }

  void setCardinal(Window window, const char* name, Atom type, unsigned long value) {
    Atom atom = XInternAtom(query_, name, False);
    XChangeProperty(query_, window, atom, type, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&value), 1);
    XSync(query_, False);
  }

  Display* query_ = nullptr;
  RecordingWindow window_;
  int screenWidth_ = 0;
  int screenHeight_ = 0;
  int monitorCount_ = 0;
  Rect shared_{};
  Rect first_{0, 0, 0, 0};
};

} // namespace

TEST_F(XInjection, PointerMovesLandOnTheSharedMonitor) {
  if (monitorCount_ < 2) std::cout << "note: fewer than two XRandR monitors; using the screen's right half\n";
  auto injector = injectorOn(shared_);
  struct Case {
    double x, y;
    int expectedX, expectedY;
  };
  const Case cases[] = {
      {0.5, 0.5, shared_.x + shared_.width / 2, shared_.y + shared_.height / 2},
      {0, 0, shared_.x, shared_.y},
      {0.25, 0.75, shared_.x + shared_.width / 4, shared_.y + 3 * shared_.height / 4},
      // Past the far edge: pinned to the monitor, and to the screen's last pixel.
      {1.7, 1.0, std::min(shared_.x + shared_.width, screenWidth_ - 1),
       std::min(shared_.y + shared_.height, screenHeight_ - 1)},
  };
  for (const Case& c : cases) {
    injector->movePointer(c.x, c.y);
    auto [x, y] = pointerNear(c.expectedX, c.expectedY);
    EXPECT_NEAR(x, c.expectedX, 1) << c.x << "," << c.y;
    EXPECT_NEAR(y, c.expectedY, 1) << c.x << "," << c.y;
  }

  if (first_.width > 0) {
    injector->setDisplay(first_.width, first_.height, first_.x, first_.y);
    injector->movePointer(0.5, 0.5);
    auto [x, y] = pointerNear(first_.width / 2, first_.height / 2);
    EXPECT_NEAR(x, first_.width / 2, 1);
    EXPECT_NEAR(y, first_.height / 2, 1);
  }
}

TEST_F(XInjection, ButtonsAndWheelNotches) {
  auto injector = injectorOn(shared_);
  injector->tap(0.25, 0.5);
  injector->mouseButton(0.5, 0.5, 1, true);
  injector->mouseButton(0.5, 0.5, 1, false);
  injector->mouseButton(0.5, 0.5, 2, true);
  injector->mouseButton(0.5, 0.5, 2, false);
  injector->scroll(0.5, 0.5, 0, 100);  // one notch down
  injector->scroll(0.5, 0.5, 0, -250); // two notches up, half a notch left over
  injector->scroll(0.5, 0.5, 0, -50);  // completes the third
  injector->scroll(0.5, 0.5, 0, 30);   // direction changed: the rest is dropped, nothing yet
  injector->scroll(0.5, 0.5, 100, 0);
  injector->scroll(0.5, 0.5, -100, 0);
  const std::vector<unsigned> expected{1, 2, 3, 5, 4, 4, 4, 7, 6};
  std::vector<Seen> presses = window_.await(expected.size(), {ButtonPress});
  std::vector<unsigned> buttons;
  for (const Seen& seen : presses) buttons.push_back(seen.button);
  EXPECT_EQ(buttons, expected);
  ASSERT_FALSE(presses.empty());
  EXPECT_NEAR(presses[0].x, shared_.x + shared_.width / 4, 1);
  EXPECT_NEAR(presses[0].y, shared_.y + shared_.height / 2, 1);
  EXPECT_EQ(window_.await(expected.size(), {ButtonRelease}).size(), expected.size());
}

TEST_F(XInjection, KeysByCodeKeepSidesAndModifiers) {
  auto injector = injectorOn(shared_);
  injector->keyByCode("ShiftLeft", true);
  injector->keyByCode("KeyA", true);
  injector->keyByCode("KeyA", false);
  injector->keyByCode("ShiftLeft", false);
  injector->keyByCode("ControlRight", true);
  injector->keyByCode("Digit7", true);
  injector->keyByCode("Digit7", false);
  injector->keyByCode("ControlRight", false);
  injector->keyByCode("ShiftRight", true);
  injector->keyByCode("ShiftRight", false);
  injector->keyByCode("NumpadEnter", true);
  injector->keyByCode("NumpadEnter", false);
  injector->pressKeyName("ArrowLeft");
  injector->keyByCode("Lang1", true); // not in the table: nothing

  const std::vector<KeySym> expected{XK_Shift_L, XK_A, XK_Control_R, XK_7, XK_Shift_R, XK_KP_Enter, XK_Left};
  std::vector<Seen> presses = window_.await(expected.size(), {KeyPress});
  std::vector<KeySym> keysyms;
  for (const Seen& seen : presses) keysyms.push_back(seen.keysym);
  EXPECT_EQ(keysyms, expected);
  ASSERT_EQ(presses.size(), expected.size());
  EXPECT_TRUE(presses[1].state & ShiftMask);
  EXPECT_TRUE(presses[3].state & ControlMask);
  EXPECT_FALSE(presses[6].state & (ShiftMask | ControlMask)) << "every modifier was released";
  EXPECT_EQ(window_.await(expected.size(), {KeyRelease}).size(), expected.size());
}

TEST_F(XInjection, TypedTextArrivesWholeAndTheKeyboardMapIsRestored) {
  const std::vector<KeySym> before = keyboardMap();
  auto injector = injectorOn(shared_);
  // Upper case needs Shift; ö, € and the clef are not on a US keyboard and
  // the clef is a surrogate pair on the way in. Typed twice, in two
  // messages, as a viewer would.
  const std::u32string text = U"Hi, w\u00f6rld \u20ac \U0001D11E!\n\u20ac\u00f6";
  injector->typeText("Hi, w\xC3\xB6rld \xE2\x82\xAC \xF0\x9D\x84\x9E!\r\n");
  injector->typeText("\xE2\x82\xAC\xC3\xB6");

  std::u32string typed;
  auto character = [](const Seen& seen) { return !isModifier(seen.keysym); };
  for (const Seen& seen : window_.await(text.size(), {KeyPress}, 5s, character)) {
    typed.push_back(characterOf(seen.keysym));
  }
  EXPECT_EQ(typed, text);
  EXPECT_NE(keyboardMap(), before) << "bindings stay while they may still be in use";
  injector.reset();
  EXPECT_EQ(keyboardMap(), before);
}

TEST_F(XInjection, MoreMissingCharactersThanSpareKeysStillArriveInOrder) {
  const std::vector<KeySym> before = keyboardMap();
  const int spare = spareKeycodes();
  ASSERT_GT(spare, 0);
  // Two and a half times the spare keys, a spare key's worth per message.
  // Each message waits until the window has seen the last one: a client
  // that reads a key after its binding was taken back sees the wrong
  // character, however long the typer waited before taking it.
  auto injector = injectorOn(shared_);
  std::u32string text, typed;
  for (char32_t c = 0x4E00; text.size() < size_t(spare) * 5 / 2; ++c) text.push_back(c);
  for (size_t from = 0; from < text.size(); from += size_t(spare)) {
    const std::u32string part = text.substr(from, size_t(spare));
    injector->typeText(threeByteUtf8(part));
    ASSERT_EQ(window_.await(from + part.size(), {KeyPress}, 10s).size(), from + part.size());
  }
  for (const Seen& seen : window_.await(text.size(), {KeyPress})) typed.push_back(characterOf(seen.keysym));
  EXPECT_EQ(typed, text);
  injector.reset();
  EXPECT_EQ(keyboardMap(), before);
}

TEST_F(XInjection, PasteShortcutIsControlV) {
  auto injector = injectorOn(shared_);
  injector->pasteShortcut();
  std::vector<Seen> keys = window_.await(4, {KeyPress, KeyRelease});
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_EQ(keys[0].type, KeyPress);
  EXPECT_EQ(keys[0].keysym, KeySym(XK_Control_L));
  EXPECT_EQ(keys[1].type, KeyPress);
  EXPECT_EQ(keys[1].keysym, KeySym(XK_v));
  EXPECT_TRUE(keys[1].state & ControlMask);
  EXPECT_EQ(keys[2].type, KeyRelease);
  EXPECT_EQ(keys[3].type, KeyRelease);
  EXPECT_EQ(keys[3].keysym, KeySym(XK_Control_L));
}

TEST_F(XInjection, ProtectedWindowInFrontDropsInput) {
  Window root = DefaultRootWindow(query_);
  setCardinal(root, "_NET_ACTIVE_WINDOW", XA_WINDOW, window_.window());
  setCardinal(window_.window(), "_NET_WM_PID", XA_CARDINAL, uint32_t(getpid()));
  injectorOn(shared_)->tap(0.5, 0.5);
  const uint32_t agent = uint32_t(getpid()) + 100000;
  setCardinal(window_.window(), "_NET_WM_PID", XA_CARDINAL, agent);
  injectorOn(shared_, agent)->tap(0.5, 0.5);
  EXPECT_TRUE(window_.await(1, {ButtonPress}, 300ms).empty());

  // Someone else's window in front: input goes through.
  injectorOn(shared_)->tap(0.5, 0.5);
  EXPECT_EQ(window_.await(1, {ButtonPress}).size(), 1u);

  // A stale active window must not upset the injector.
  setCardinal(root, "_NET_ACTIVE_WINDOW", XA_WINDOW, 0x7FFFFF);
  injectorOn(shared_)->tap(0.5, 0.5);
  EXPECT_EQ(window_.await(2, {ButtonPress}).size(), 2u);
  XDeleteProperty(query_, root, XInternAtom(query_, "_NET_ACTIVE_WINDOW", False));
  XSync(query_, False);
}
