// The XTest backend on a live X display: a window of our own records what
// arrives while the injector works. Run on the private two-monitor server
// (3840x1080, monitor B at 1920,0), since it moves the one pointer and takes
// the focus.
#include "input/input_injector.h"

// GoogleTest before Xlib, whose macros (None, Bool) would break it.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace dravnok;
using namespace std::chrono_literals;

namespace {

// A window over the whole screen with the keyboard focus. It writes down
// where the pointer goes and what is pressed ("@x,y", "b1", "A+S" for A
// with Shift held); a key or button left down shows in what comes next.
// Its own thread handles events as they come, as a desktop program would,
// so that it reads the keyboard map while temporary bindings still hold.
class RecordingWindow {
public:
  RecordingWindow() : display_(XOpenDisplay(nullptr)) {
    if (!display_) return;
    int screen = DefaultScreen(display_);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = KeyPressMask | ButtonPressMask | PointerMotionMask | StructureNotifyMask;
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
    XCloseDisplay(display_);
  }
  Window window() const { return window_; }

  // What arrived since the last call, once there are `count` entries (at
  // least one) or the time is up.
  std::vector<std::string> take(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, limit, [&] { return seen_.size() >= std::max<size_t>(count, 1); });
    return std::exchange(seen_, {});
  }

private:
  void pump() {
    pollfd connection{ConnectionNumber(display_), POLLIN, 0};
    for (std::string at; !stop_; poll(&connection, 1, 5)) {
      while (XPending(display_)) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
        std::lock_guard lock(mutex_);
        if (event.type == MotionNotify) {
          // Every injection moves first: only a new place is worth a line.
          std::string to = "@" + std::to_string(event.xmotion.x_root) + "," + std::to_string(event.xmotion.y_root);
          if (std::exchange(at, to) != to) seen_.push_back(to);
        } else if (event.type == ButtonPress) {
          seen_.push_back("b" + std::to_string(event.xbutton.button));
        } else if (event.type == KeyPress) {
          KeySym keysym = NoSymbol;
          char text[16];
          XLookupString(&event.xkey, text, sizeof text, &keysym, nullptr);
          const char* name = XKeysymToString(keysym);
          seen_.push_back(std::string(name ? name : "?") + (event.xkey.state & ShiftMask ? "+S" : "") +
                          (event.xkey.state & ControlMask ? "+C" : ""));
        }
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
  std::vector<std::string> seen_;
};

class XInjection : public ::testing::Test {
protected:
  void SetUp() override {
    query_ = XOpenDisplay(nullptr);
    if (!query_) GTEST_SKIP() << "no X display";
    ASSERT_EQ(DisplayWidth(query_, DefaultScreen(query_)), 3840) << "not the two-monitor display";
  }
  void TearDown() override {
    if (query_) XCloseDisplay(query_);
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

  // `window` in front, as a window manager tells it, and our window's
  // owner `pid`: ours stops injection.
  void inFront(unsigned long window, unsigned long pid) {
    XChangeProperty(query_, DefaultRootWindow(query_), XInternAtom(query_, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&window), 1);
    XChangeProperty(query_, window_.window(), XInternAtom(query_, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
    XSync(query_, False);
  }

  Display* query_ = nullptr;
  RecordingWindow window_;
  // Monitor B, as the viewer's shared monitor.
  std::optional<InputInjector> injector_{std::in_place, false, 1920, 1080, 1920, 0, 0};
};

} // namespace

TEST_F(XInjection, WhatLandsOnTheServer) {
  const auto chord = [this](const char* modifier, const char* code) {
    for (const char* down : {modifier, code}) injector_->keyByCode(down, true);
    for (const char* up : {code, modifier}) injector_->keyByCode(up, false);
  };
  // Two and a half times the spare keycodes in one text: the typer binds
  // what the keyboard lacks to spare keys and takes the oldest back, once
  // the window had time to read them, when it runs out.
  const auto [before, spare] = keyboardMap();
  std::string cjk;
  std::vector<std::string> cjkKeys;
  for (char32_t c = 0x4E00; c < 0x4E00 + char32_t(spare) * 5 / 2; ++c) {
    cjk += {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
    cjkKeys.push_back(XKeysymToString(0x01000000 | c));
  }
  const struct {
    std::function<void()> act;
    std::vector<std::string> lands;
  } rows[] = {
      {[&] { injector_->movePointer(0.5, 0.5); }, {"@2880,540"}},
      {[&] { injector_->movePointer(1.7, 1.0); }, {"@3839,1079"}}, // pinned to the screen's last pixel
      {[&] {
         injector_->tap(0.25, 0.5);
         for (int button : {1, 2}) {
           injector_->mouseButton(0.25, 0.5, button, true);
           injector_->mouseButton(0.25, 0.5, button, false);
         }
       },
       {"@2400,540", "b1", "b2", "b3"}},
      // A notch a hundred; the rest waits for the next turn the same way,
      // and is dropped when the direction changes (at 60).
      {[&] {
         for (double dy : {100, -250, -50, -150, 60, 50}) injector_->scroll(0.25, 0.5, 0, dy);
         injector_->scroll(0.25, 0.5, 100, 0);
         injector_->scroll(0.25, 0.5, -100, 0);
       },
       {"b5", "b4", "b4", "b4", "b4", "b5", "b7", "b6"}},
      {[&] {
         chord("ShiftLeft", "KeyA");
         chord("ControlRight", "Digit7");
         chord("ShiftRight", "NumpadEnter");
         injector_->pressKeyName("ArrowLeft");
         injector_->keyByCode("Lang1", true);
         injector_->pasteShortcut();
       },
       {"Shift_L", "A+S", "Control_R", "7+C", "Shift_R", "KP_Enter+S", "Left", "Control_L", "v+C"}},
      // Characters missing from the keyboard are bound to spare keys; the
      // clef comes in as a surrogate pair.
      {[&] { injector_->typeText("Hi, w\xC3\xB6rld \xE2\x82\xAC \xF0\x9D\x84\x9E!\r\n"); },
       {"Shift_L", "H+S", "i", "comma", "space", "w", "odiaeresis", "r", "l", "d", "space", "U20AC", "space",
        "U0001D11E", "Shift_L", "exclam+S", "Return"}},
      {[&] { injector_->typeText(cjk); }, cjkKeys},
      {[&] {
         inFront(window_.window(), uint32_t(getpid())); // ours: nothing
         injector_->tap(0.5, 0.5);
         inFront(window_.window(), uint32_t(getpid()) + 100000);
         injector_->tap(0.75, 0.5);
         inFront(0x7FFFFF, 0); // a stale active window
         injector_->tap(0.5, 0.5);
       },
       {"@3360,540", "b1", "@2880,540", "b1"}},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    rows[i].act();
    EXPECT_EQ(window_.take(rows[i].lands.size(), rows[i].lands.empty() ? 300ms : 5s), rows[i].lands) << "row " << i;
  }
  XDeleteProperty(query_, DefaultRootWindow(query_), XInternAtom(query_, "_NET_ACTIVE_WINDOW", False));
  EXPECT_TRUE(window_.take(1, 200ms).empty());
  EXPECT_NE(keyboardMap().first, before) << "bindings stay while they may still be in use";
  injector_.reset();
  EXPECT_EQ(keyboardMap().first, before);
}
