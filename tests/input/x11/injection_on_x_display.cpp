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
  int x = 0, y = 0;
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

  // The events of the given type (modifier keys left out for `characters`)
  // once there are `count` of them or the time is up.
  std::vector<Seen> await(size_t count, int type, std::chrono::milliseconds limit = 3s, bool characters = false) {
    std::unique_lock lock(mutex_);
    std::vector<Seen> matching;
    arrived_.wait_for(lock, limit, [&] {
      matching.clear();
      for (const Seen& seen : seen_)
        if (seen.type == type && !(characters && IsModifierKey(seen.keysym))) matching.push_back(seen);
      return matching.size() >= count;
    });
    return matching;
  }

private:
  void pump() {
    pollfd connection{ConnectionNumber(display_), POLLIN, 0};
    for (; !stop_; poll(&connection, 1, 5)) {
      while (XPending(display_)) {
        XEvent event;
        XNextEvent(display_, &event);
        Seen seen{event.type};
        if (event.type == MappingNotify) {
          XRefreshKeyboardMapping(&event.xmapping);
          continue;
        } else if (event.type == KeyPress || event.type == KeyRelease) {
          char text[16];
          XLookupString(&event.xkey, text, sizeof text, &seen.keysym, nullptr);
          seen.state = event.xkey.state;
        } else if (event.type == ButtonPress || event.type == ButtonRelease) {
          seen = {event.type,          event.xbutton.button, NoSymbol,
                  event.xbutton.state, event.xbutton.x_root, event.xbutton.y_root};
        } else {
          continue;
        }
        std::lock_guard lock(mutex_);
        seen_.push_back(seen);
        arrived_.notify_all();
      }
    }
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
  return (keysym & 0xFF000000) == 0x01000000 ? char32_t(keysym & 0xFFFFFF) : 0;
}

std::u32string typedText(const std::vector<Seen>& presses) {
  std::u32string typed;
  for (const Seen& seen : presses) typed.push_back(characterOf(seen.keysym));
  return typed;
}

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
    }
    if (monitors) XRRFreeMonitors(monitors);
  }
  void TearDown() override {
    if (query_) XCloseDisplay(query_);
  }

  std::unique_ptr<InputInjector> injectorOn(Rect rect, uint32_t agentPid = 0) {
    return std::make_unique<InputInjector>(false, rect.width, rect.height, rect.x, rect.y, agentPid);
  }

  // Where the pointer is, once it has reached (x, y) or time is up.
  std::pair<int, int> pointerNear(int x, int y) {
    int rootX = -1, rootY = -1, winX, winY;
    for (int i = 0; i < 200 && (std::abs(rootX - x) > 1 || std::abs(rootY - y) > 1); ++i) {
      if (i) std::this_thread::sleep_for(10ms);
      Window root, child;
      unsigned mask;
      XQueryPointer(query_, DefaultRootWindow(query_), &root, &child, &rootX, &rootY, &winX, &winY, &mask);
    }
    return {rootX, rootY};
  }

  // The keyboard map, and how many keycodes have no symbol (what the typer may borrow).
  std::pair<std::vector<KeySym>, int> keyboardMap() {
    int min = 0, max = 0, per = 0, spare = 0;
    XDisplayKeycodes(query_, &min, &max);
    KeySym* symbols = XGetKeyboardMapping(query_, KeyCode(min), max - min + 1, &per);
    std::vector<KeySym> copy(symbols, symbols + (max - min + 1) * per);
    XFree(symbols);
    for (auto code = copy.begin(); code != copy.end(); code += per)
      spare += std::all_of(code, code + per, [](KeySym s) { return s == NoSymbol; });
    return {copy, spare};
  }

  void setCardinal(Window window, const char* name, Atom type, unsigned long value) {
    XChangeProperty(query_, window, XInternAtom(query_, name, False), type, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&value), 1);
    XSync(query_, False);
  }

  Display* query_ = nullptr;
  RecordingWindow window_;
  int screenWidth_ = 0, screenHeight_ = 0;
  Rect shared_{};
};

} // namespace

TEST_F(XInjection, PointerButtonsAndWheelNotchesLandOnTheSharedMonitor) {
  auto injector = injectorOn(shared_);
  injector->movePointer(0.5, 0.5);
  auto [x, y] = pointerNear(shared_.x + shared_.width / 2, shared_.y + shared_.height / 2);
  EXPECT_NEAR(x, shared_.x + shared_.width / 2, 1);
  EXPECT_NEAR(y, shared_.y + shared_.height / 2, 1);
  // Past the far edge: pinned to the monitor, and to the screen's last pixel.
  const int edgeX = std::min(shared_.x + shared_.width, screenWidth_ - 1);
  const int edgeY = std::min(shared_.y + shared_.height, screenHeight_ - 1);
  injector->movePointer(1.7, 1.0);
  EXPECT_EQ(pointerNear(edgeX, edgeY), std::make_pair(edgeX, edgeY));

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
  std::vector<Seen> presses = window_.await(expected.size(), ButtonPress);
  std::vector<unsigned> buttons;
  for (const Seen& seen : presses) buttons.push_back(seen.button);
  ASSERT_EQ(buttons, expected);
  EXPECT_NEAR(presses[0].x, shared_.x + shared_.width / 4, 1);
  EXPECT_NEAR(presses[0].y, shared_.y + shared_.height / 2, 1);
  EXPECT_EQ(window_.await(expected.size(), ButtonRelease).size(), expected.size());
}

TEST_F(XInjection, KeysByCodeKeepSidesAndModifiersAndPasteIsControlV) {
  auto injector = injectorOn(shared_);
  for (const char* modifier : {"ShiftLeft", "ControlRight"}) {
    for (const char* code : {modifier, modifier[0] == 'S' ? "KeyA" : "Digit7"}) injector->keyByCode(code, true);
    for (const char* code : {modifier[0] == 'S' ? "KeyA" : "Digit7", modifier}) injector->keyByCode(code, false);
  }
  for (bool down : {true, false}) injector->keyByCode("ShiftRight", down), injector->keyByCode("NumpadEnter", down);
  injector->pressKeyName("ArrowLeft");
  injector->keyByCode("Lang1", true); // not in the table: nothing
  injector->pasteShortcut();

  const std::vector<KeySym> expected{XK_Shift_L,  XK_A,    XK_Control_R, XK_7, XK_Shift_R,
                                     XK_KP_Enter, XK_Left, XK_Control_L, XK_v};
  std::vector<Seen> presses = window_.await(expected.size(), KeyPress);
  std::vector<KeySym> keysyms;
  for (const Seen& seen : presses) keysyms.push_back(seen.keysym);
  ASSERT_EQ(keysyms, expected);
  EXPECT_EQ(presses[1].state & (ShiftMask | ControlMask), unsigned(ShiftMask));
  EXPECT_EQ(presses[3].state & (ShiftMask | ControlMask), unsigned(ControlMask));
  EXPECT_EQ(presses[6].state & (ShiftMask | ControlMask), 0u) << "every modifier was released";
  EXPECT_EQ(presses[8].state & (ShiftMask | ControlMask), unsigned(ControlMask));
  EXPECT_EQ(window_.await(expected.size(), KeyRelease).size(), expected.size());
}

TEST_F(XInjection, TypedTextArrivesWholeInOrderAndTheKeyboardMapIsRestored) {
  const auto [before, spare] = keyboardMap();
  ASSERT_GT(spare, 0);
  auto injector = injectorOn(shared_);
  // Upper case needs Shift; ö, € and the clef are not on a US keyboard and
  // the clef is a surrogate pair on the way in.
  std::u32string text = U"Hi, w\u00f6rld \u20ac \U0001D11E!\n";
  injector->typeText("Hi, w\xC3\xB6rld \xE2\x82\xAC \xF0\x9D\x84\x9E!\r\n");
  ASSERT_EQ(typedText(window_.await(text.size(), KeyPress, 5s, true)), text);
  EXPECT_NE(keyboardMap().first, before) << "bindings stay while they may still be in use";

  // Two and a half times the spare keys, a spare key's worth per message.
  // Each message waits until the window has seen the last one: a client
  // that reads a key after its binding was taken back sees the wrong
  // character, however long the typer waited before taking it.
  for (char32_t c = 0x4E00, sent = 0; sent < char32_t(spare) * 5 / 2; sent += char32_t(spare)) {
    std::string utf8;
    for (int i = 0; i < spare; ++i, ++c) {
      text.push_back(c);
      utf8 += {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
    }
    injector->typeText(utf8);
    ASSERT_EQ(window_.await(text.size(), KeyPress, 10s, true).size(), text.size());
  }
  EXPECT_EQ(typedText(window_.await(text.size(), KeyPress, 3s, true)), text);
  injector.reset();
  EXPECT_EQ(keyboardMap().first, before);
}

TEST_F(XInjection, ProtectedWindowInFrontDropsInput) {
  Window root = DefaultRootWindow(query_);
  setCardinal(root, "_NET_ACTIVE_WINDOW", XA_WINDOW, window_.window());
  setCardinal(window_.window(), "_NET_WM_PID", XA_CARDINAL, uint32_t(getpid()));
  injectorOn(shared_)->tap(0.5, 0.5);
  const uint32_t agent = uint32_t(getpid()) + 100000;
  setCardinal(window_.window(), "_NET_WM_PID", XA_CARDINAL, agent);
  injectorOn(shared_, agent)->tap(0.5, 0.5);
  EXPECT_TRUE(window_.await(1, ButtonPress, 300ms).empty());

  // Someone else's window in front: input goes through.
  injectorOn(shared_)->tap(0.5, 0.5);
  EXPECT_EQ(window_.await(1, ButtonPress).size(), 1u);

  // A stale active window must not upset the injector.
  setCardinal(root, "_NET_ACTIVE_WINDOW", XA_WINDOW, 0x7FFFFF);
  injectorOn(shared_)->tap(0.5, 0.5);
  EXPECT_EQ(window_.await(2, ButtonPress).size(), 2u);
  XDeleteProperty(query_, root, XInternAtom(query_, "_NET_ACTIVE_WINDOW", False));
  XSync(query_, False);
}
