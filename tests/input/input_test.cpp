// The viewer's input messages through the channel handler and the injector
// down to platform-neutral records, with a backend that keeps them.
#include "input/input_backend.h"
#include "input/input_channel_handler.h"
#include "input/input_injector.h"
#include "input/input_messages.h"
#include "input/key_tables.h"
#include "input/recording_backend.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace dravnok {

namespace {

using namespace testing_support;
using Records = std::vector<InputRecord>;
constexpr uint32_t kExt = keyflag::extendedKey, kUp = keyflag::keyUp, kUni = keyflag::unicode;

KeyboardInput unit(uint16_t u, uint32_t f = 0) { return {0, u, kUni | f}; }

class Input : public ::testing::Test {
protected:
  void rig(bool viewOnly = false, MonitorRect rect = {1920, 1080, 0, 0}, uint32_t agentPid = 0) {
    state = std::make_shared<Recorded>();
    injector = std::make_unique<InputInjector>(std::make_unique<RecordingBackend>(state), viewOnly, rect.width,
                                               rect.height, rect.left, rect.top, agentPid);
  }
  void run(std::string_view text) { dispatchInputMessage(*injector, text, reply); }
  void handle(const std::string& text, bool viewOnly = false) { handler.handleText(injector.get(), viewOnly, text); }
  Records records() const { return state->records(); }
  std::vector<Records> sends() const {
    std::vector<Records> out;
    for (const Call& call : state->calls) out.push_back(call.records);
    return out;
  }
  int paused() const {
    int total = 0;
    for (const Call& call : state->calls) total += call.ms;
    return total;
  }
  bool secureAttentionOnly() const { return state->calls.size() == 1 && state->calls[0].kind == Call::SecureAttention; }
  InputChannelHooks hooks() {
    InputChannelHooks h;
    h.switchMonitor = [this](int32_t index) { monitors.push_back(index); };
    h.parseClipWatch = [](std::string_view text) { return text.find("\"clipwatch\"") == text.npos ? -1 : 1; };
    h.setClipWatch = [this](bool on) { clipWatch.push_back(on); };
    h.forwardToRelay = [this](const std::string& text) { return relayUp && (relayed.push_back(text), true); };
    h.log = [this](const std::string& level, const std::string& message) { logs.push_back(level + " " + message); };
    h.sendNotice = [this](const std::string& notice) { notices.push_back(notice); };
    h.reply = reply;
    return h;
  }
  ElevationProbe probe() {
    return {[this](uint32_t& pid) {
              ++elevationChecks;
              pid = elevatedPid;
              return pid != 0;
            },
            [this](uint32_t) { return imageName; }};
  }

  std::shared_ptr<Recorded> state;
  std::unique_ptr<InputInjector> injector;
  std::vector<std::string> replies, relayed, logs, notices;
  ReplyFn reply = [this](const std::string& text) { replies.push_back(text); };
  std::vector<int32_t> monitors;
  std::vector<bool> clipWatch;
  bool relayUp = false;
  uint32_t elevatedPid = 0; // 0: nothing elevated in front
  int elevationChecks = 0;
  std::u16string imageName = u"regedit.exe";
  InputChannelHandler handler{hooks(), probe()};
};

// --- Key tables -------------------------------------------------------------

TEST_F(Input, KeyTablesHoldTheWholeMapWithItsExtendedFlags) {
  // Name, virtual key and extended flag of every listed code.
  std::istringstream listed(R"(
      ControlLeft A2 0  ControlRight A3 1  ShiftLeft A0 0  ShiftRight A1 0  AltLeft A4 0  AltRight A5 1
      MetaLeft 5B 1  MetaRight 5C 1  ContextMenu 5D 1  Enter 0D 0  Space 20 0  Tab 09 0  Backspace 08 0
      Escape 1B 0  CapsLock 14 0  Insert 2D 1  Delete 2E 1  Home 24 1  End 23 1  PageUp 21 1  PageDown 22 1
      ArrowUp 26 1  ArrowDown 28 1  ArrowLeft 25 1  ArrowRight 27 1  Backquote C0 0  Minus BD 0  Equal BB 0
      BracketLeft DB 0  BracketRight DD 0  Backslash DC 0  Semicolon BA 0  Quote DE 0  Comma BC 0  Period BE 0
      Slash BF 0  NumpadAdd 6B 0  NumpadSubtract 6D 0  NumpadMultiply 6A 0  NumpadDivide 6F 1
      NumpadDecimal 6E 0  NumpadEnter 0D 1  NumLock 90 1  PrintScreen 2C 1  ScrollLock 91 0  Pause 13 0
      KeyA 41 0  KeyZ 5A 0  Digit0 30 0  Digit9 39 0  F1 70 0  F24 87 0  Numpad0 60 0  Numpad9 69 0)");
  int count = 0;
  for (std::string name; listed >> name; ++count) {
    unsigned vk = 0, extended = 0;
    listed >> std::hex >> vk >> extended;
    EXPECT_EQ(lookupCode(name), (KeyInfo{uint16_t(vk), uint8_t(extended)})) << name;
  }
  EXPECT_EQ(count, 54);
  for (char c = 'B'; c < 'Z'; ++c) EXPECT_EQ(lookupCode(std::string("Key") + c), (KeyInfo{uint16_t(c), 0})) << c;
  for (char c = '1'; c < '9'; ++c) EXPECT_EQ(lookupCode(std::string("Digit") + c), (KeyInfo{uint16_t(c), 0})) << c;
  for (int n = 2; n < 24; ++n)
    EXPECT_EQ(lookupCode(std::string("F").append(std::to_string(n))), (KeyInfo{uint16_t(0x6F + n), 0})) << n;
  for (int n = 1; n < 9; ++n)
    EXPECT_EQ(lookupCode(std::string("Numpad").append(std::to_string(n))), (KeyInfo{uint16_t(0x60 + n), 0}));
  for (const char* name : {"keya", "Key", "KeyAA", "Key1", "F0", "F25", "F01", "Digit", "Numpad10", "numpad1", "",
                           "IntlBackslash", "AudioVolumeUp", "Lang1", "ControlLeft "}) {
    EXPECT_FALSE(lookupCode(name)) << '"' << name << '"';
  }

  // By key value only the editing and arrow keys; printable keys come as text.
  std::istringstream names(R"(Enter 0D 0  Backspace 08 0  Tab 09 0  Escape 1B 0  Delete 2E 1  Home 24 1  End 23 1
                                 ArrowUp 26 1  ArrowDown 28 1  ArrowLeft 25 1  ArrowRight 27 1)");
  for (std::string name; names >> name;) {
    unsigned vk = 0, extended = 0;
    names >> std::hex >> vk >> extended;
    EXPECT_EQ(lookupKeyName(name), (KeyInfo{uint16_t(vk), uint8_t(extended)})) << name;
  }
  for (const char* name : {"a", "A", "PageUp", "Insert", "KeyA", "enter", " ", ""}) {
    EXPECT_FALSE(lookupKeyName(name)) << '"' << name << '"';
  }
}

// --- Messages ---------------------------------------------------------------

TEST_F(Input, EachMessageBecomesItsRecordsAndAMistypedMemberDropsItWhole) {
  const std::pair<const char*, Records> cases[] = {
      {R"({"type":"move"})", {moveTo(0, 0)}},
      {R"({"type":"move","button":"left","code":1})", {moveTo(0, 0)}}, // members the type does not use
      {R"({"type":"move","x":18446744073709551615,"y":-1e300})", {moveTo(65535, 0)}},
      {R"({"type":"down","x":0.5,"y":0.5,"button":7})", {moveTo(32768, 32768), mouseFlags(mouseflag::leftDown)}},
      {R"({"type":"up","x":1,"y":0})", {moveTo(65535, 0), mouseFlags(mouseflag::leftUp)}},
      {R"({"type":"down","button":1.9})", {moveTo(0, 0), mouseFlags(mouseflag::middleDown)}}, // truncated
      {R"({"type":"up","button":2})", {moveTo(0, 0), mouseFlags(mouseflag::rightUp)}},
      {R"({"type":"down","button":4294967298})", {moveTo(0, 0), mouseFlags(mouseflag::leftDown)}}, // saturates
      {R"({"type":"scroll","dy":100,"dx":-50})",
       {moveTo(0, 0), MouseInput{0, 0, -120, mouseflag::wheel}, MouseInput{0, 0, -60, mouseflag::hwheel}}},
      {R"({"type":"scroll","dy":-1.5,"dx":33.9})",
       {moveTo(0, 0), MouseInput{0, 0, 1, mouseflag::wheel}, MouseInput{0, 0, 40, mouseflag::hwheel}}},
      {R"({"type":"scroll","dy":-1e300,"dx":1e300})",
       {moveTo(0, 0), MouseInput{0, 0, INT32_MAX, mouseflag::wheel}, MouseInput{0, 0, INT32_MAX, mouseflag::hwheel}}},
      {R"({"type":"scroll","x":0.5,"y":0.5})", {moveTo(32768, 32768)}},
      {R"({"type":"tap","x":1,"y":1})",
       {moveTo(65535, 65535), mouseFlags(mouseflag::leftDown), mouseFlags(mouseflag::leftUp)}},
      {R"({"type":"keydown","code":"ControlRight"})", {key(0xA3, kExt)}},
      {R"({"type":"keyup","code":"KeyQ"})", {key('Q', kUp)}},
      {R"({"type":"keydown","code":"NoSuchKey"})", {}},
      {R"({"type":"keydown"})", {}},
      {R"({"type":"key","key":"ArrowUp"})", {key(0x26, kExt), key(0x26, kExt | kUp)}},
      {R"({"type":"key","key":"a"})", {}},
      {R"({"type":"text","text":"a\u00e9\ud834\udd1e"})",
       {unit('a'), unit('a', kUp), unit(0xE9), unit(0xE9, kUp), unit(0xD834), unit(0xD834, kUp), unit(0xDD1E),
        unit(0xDD1E, kUp)}},
      {R"({"type":"text"})", {}},
      {R"({"type":"clippaste"})", {key(0x11), key('V'), key('V', kUp), key(0x11, kUp)}},
      // Malformed and unknown messages.
      {"", {}},
      {"[1,2]", {}},
      {"\"move\"", {}},
      {R"({"type":"Move"})", {}},
      {R"({"x":0.5})", {}},
      {R"({"type":"move")", {}},
      {R"({"type":"move"}{})", {}},
      {R"({"type":5})", {}},
      // A member of the wrong JSON type.
      {R"({"type":"move","x":"0.5","y":0.5})", {}},
      {R"({"type":"tap","y":{}})", {}},
      {R"({"type":"down","x":0.5,"button":"2"})", {}},
      {R"({"type":"up","y":null})", {}},
      {R"({"type":"scroll","x":0.1,"dy":[100]})", {}},
      {R"({"type":"swipe","x":0,"y":0,"x2":1,"y2":1,"ms":"200"})", {}},
      {R"({"type":"keydown","code":65})", {}},
      {R"({"type":"key","key":false})", {}},
      {R"({"type":"text","text":["a"]})", {}},
      {R"({"type":"clipimg","seq":"1","total":3,"data":"QUJD"})", {}},
      {R"({"type":"clipboard","text":1})", {}},
  };
  for (const auto& [text, expected] : cases) {
    rig();
    std::vector<std::string> hooked;
    injector->setClipboardHooks({[&](InputInjector&, const std::string& t) { hooked.push_back(t); },
                                 [&](InputInjector&, int32_t, int32_t, const std::string& d) { hooked.push_back(d); },
                                 nullptr});
    run(text);
    EXPECT_EQ(records(), expected) << text;
    EXPECT_TRUE(hooked.empty()) << text;
  }
}

TEST_F(Input, SwipeDefaultsToTwoHundredMillisecondsAndSecureAttentionGoesAlone) {
  rig();
  run(R"({"type":"swipe","x":0,"y":0,"x2":1,"y2":1})");
  EXPECT_EQ(paused(), 200);
  rig();
  run(R"({"type":"swipe","ms":1e12})"); // saturates, then clamps like any long swipe
  EXPECT_EQ(paused(), 5000);
  rig();
  run(R"({"type":"sas"})");
  EXPECT_TRUE(secureAttentionOnly());
}

TEST_F(Input, ClipboardMessagesReachTheirHooksAndAFailingHookDoesNotEscape) {
  rig();
  std::vector<std::string> seen;
  injector->setClipboardHooks({[&](InputInjector& to, const std::string& text) {
                                 seen.push_back((&to == injector.get() ? "text:" : "") + text);
                               },
                               [&](InputInjector&, int32_t seq, int32_t total, const std::string& data) {
                                 seen.push_back(std::to_string(seq) + "/" + std::to_string(total) + ":" + data);
                               },
                               [&](const ReplyFn& send) { send("clipdata"); }});
  for (const char* text :
       {R"({"type":"clipboard","text":"hi"})", R"({"type":"clipboard"})",
        R"({"type":"clipimg","seq":1,"total":3,"data":"QUJD"})", R"({"type":"clipimg"})", R"({"type":"clipget"})"}) {
    run(text);
  }
  dispatchInputMessage(*injector, R"({"type":"clipget"})", nullptr); // no way back, as in the relay
  EXPECT_EQ(seen, (std::vector<std::string>{"text:hi", "text:", "1/3:QUJD", "0/0:"}));
  EXPECT_EQ(replies, std::vector<std::string>{"clipdata"});
  EXPECT_TRUE(state->calls.empty());

  injector->setClipboardHooks({[](InputInjector&, const std::string&) { throw std::runtime_error("busy"); }, nullptr,
                               [](const ReplyFn&) { throw std::runtime_error("gone"); }});
  EXPECT_NO_THROW(run(R"({"type":"clipboard","text":"x"})"));
  EXPECT_NO_THROW(run(R"({"type":"clipget"})"));
}

TEST_F(Input, MessageTypeEventTypesAndNotices) {
  const std::pair<const char*, const char*> types[] = {{R"({"type":"tap","x":1})", "tap"}, {R"({"type":7})", ""},
                                                       {R"({"kind":"tap"})", ""},          {R"(["type","tap"])", ""},
                                                       {"{\"type\":\"tap\"", ""},          {"", ""}};
  for (const auto& [text, type] : types) EXPECT_EQ(messageType(text), type) << text;

  // The events the elevated relay gets.
  for (const char* type :
       {"move", "down", "up", "scroll", "keydown", "keyup", "text", "key", "tap", "swipe", "clippaste"}) {
    EXPECT_TRUE(isInputEventType(type)) << type;
  }
  for (const char* type : {"sas", "clipboard", "clipimg", "clipget", "clipwatch", "monitor", "", "Move"}) {
    EXPECT_FALSE(isInputEventType(type)) << type;
  }
  EXPECT_EQ(buildNotice("elevated", "caf\xC3\xA9 \"x\""),
            "{\"code\":\"elevated\",\"text\":\"caf\xC3\xA9 \\\"x\\\"\",\"type\":\"notice\"}");
  EXPECT_NO_THROW(buildNotice("elevated", "\xFF")); // ill-formed text is replaced
}

// --- Injector ---------------------------------------------------------------

TEST_F(Input, PositionsAreNormalisedAgainstTheVirtualDesktopAndClamped) {
  struct Case {
    MonitorRect monitor;
    VirtualDesktop desktop;
    double x, y;
    MouseInput expected;
  };
  const VirtualDesktop twoSideBySide{0, 0, 3840, 1080};
  const Case cases[] = {
      {{1920, 1080, 1920, 0}, twoSideBySide, 0.5, 0.5, moveTo(49151, 32768)}, // the right one of two
      {{1920, 1080, 1920, 0}, twoSideBySide, 0, 0, moveTo(32768, 0)},
      {{1920, 1080, 1920, 0}, twoSideBySide, 1, 1, moveTo(65535, 65535)},
      {{1920, 1080, 1920, 0}, twoSideBySide, -0.2, 1.7, moveTo(32768, 65535)},
      {{1920, 1080, -4000, 2000}, twoSideBySide, 0, 0, moveTo(0, 65535)}, // beyond the desktop
      {{1920, 1080, -1920, -200}, {-1920, -200, 3840, 1280}, 1, 1, moveTo(32768, 55295)},
      {{0, 7, -1920, 0}, {0, 0, 0, 0}, 0.5, 0.5, moveTo(0, 65535)}, // no size: no division by zero
  };
  for (const Case& c : cases) {
    rig(false, c.monitor);
    state->desktop = c.desktop;
    injector->movePointer(c.x, c.y);
    EXPECT_EQ(sends(), std::vector<Records>{{c.expected}}) << c.x << "," << c.y << " on " << c.monitor.left;
  }

  rig(false, {0, -5, 10, 20}); // degenerate sizes become one pixel
  EXPECT_EQ(injector->display().width, 1);
  EXPECT_EQ(injector->display().height, 1);
  injector->setDisplay(0, 7, -1920, 0);
  EXPECT_EQ(injector->display().width, 1);
  EXPECT_EQ(injector->display().height, 7);
  EXPECT_EQ(injector->display().left, -1920);
}

TEST_F(Input, PointerActionsMoveFirstAndSendEachRecordAlone) {
  rig();
  injector->mouseButton(0, 0, 2, true);
  injector->tap(1, 0);
  injector->scroll(0, 0, 0, 100);
  injector->pasteShortcut();
  const std::vector<Records> expected{{moveTo(0, 0)},
                                      {mouseFlags(mouseflag::rightDown)},
                                      {moveTo(65535, 0)},
                                      {mouseFlags(mouseflag::leftDown)},
                                      {mouseFlags(mouseflag::leftUp)},
                                      {moveTo(0, 0)},
                                      {MouseInput{0, 0, -120, mouseflag::wheel}},
                                      {key(0x11), key('V'), key('V', kUp), key(0x11, kUp)}};
  EXPECT_EQ(sends(), expected);
}

TEST_F(Input, SwipeStepsAndPausesFollowTheDuration) {
  struct Case {
    int ms, steps, pause;
  };
  // Ten milliseconds a step, at least one and at most 200 steps, within 5 s.
  for (const Case c : {Case{200, 20, 10}, {0, 1, 0}, {20000, 200, 25}, {-300, 1, 0}, {15, 1, 15}}) {
    rig();
    injector->swipe(0, 0, 1, 1, c.ms);
    Records moves;
    int pauses = 0;
    for (const Call& call : state->calls) {
      if (call.kind == Call::Send) {
        moves.push_back(call.records.at(0));
      } else {
        EXPECT_EQ(call.ms, c.pause) << c.ms;
        ++pauses;
      }
    }
    ASSERT_EQ(moves.size(), size_t(c.steps) + 4) << c.ms; // move, down, the steps, final move, up
    EXPECT_EQ(pauses, c.pause ? c.steps : 0) << c.ms;
    EXPECT_EQ(moves[1], InputRecord{mouseFlags(mouseflag::leftDown)});
    EXPECT_EQ(moves[c.steps + 1], InputRecord{moveTo(65535, 65535)});
    EXPECT_EQ(moves.back(), InputRecord{mouseFlags(mouseflag::leftUp)});
    if (c.steps % 2 == 0) {
      EXPECT_EQ(moves[c.steps / 2 + 1], InputRecord{moveTo(32768, 32768)}) << c.ms; // halfway
    }
  }
}

TEST_F(Input, TypedTextIsBoundedInUtf16Units) {
  rig();
  const size_t limit = InputInjector::kMaxTypedUnits;
  injector->typeText(std::string(limit + 1, 'x'));
  injector->typeText(std::string(3 * limit + 1, '\xFF')); // each byte one replacement unit
  EXPECT_TRUE(state->calls.empty());
  injector->typeText(std::string(limit, '\xFF'));
  injector->typeText(std::string(limit, 'x'));
  ASSERT_EQ(state->calls.size(), 2u);
  EXPECT_EQ(state->calls[1].records.size(), 2 * limit);
}

TEST_F(Input, ViewOnlyAndProtectedWindowsInFrontStopEverythingButSecureAttention) {
  const auto everything = [this] {
    injector->movePointer(0.5, 0.5);
    injector->mouseButton(0.5, 0.5, 0, true);
    injector->scroll(0.5, 0.5, 100, 100);
    injector->tap(0.5, 0.5);
    injector->swipe(0, 0, 1, 1, 50);
    injector->typeText("x");
    injector->pressKeyName("Enter");
    injector->keyByCode("KeyA", true);
    injector->pasteShortcut();
    injector->sendSecureAttention();
  };
  rig(true);
  everything();
  EXPECT_TRUE(state->calls.empty());

  const uint32_t agent = 77, helper = 88;
  for (uint32_t front : {4242u /* own */, agent, helper}) {
    rig(false, {1920, 1080, 0, 0}, agent);
    injector->setHelperPid(helper);
    state->foregroundPid = front;
    everything();
    EXPECT_TRUE(secureAttentionOnly()) << front;
  }
  // Without an agent (0) only the real foreground process counts.
  rig();
  for (uint32_t front : {0u, 99u}) {
    state->foregroundPid = front;
    EXPECT_FALSE(injector->foregroundProtected()) << front;
  }
}

// --- Channel handler --------------------------------------------------------

TEST_F(Input, MonitorSelectionReadsTheNumberAfterTheQuotedIndex) {
  const std::pair<const char*, std::optional<int32_t>> cases[] = {
      {R"({"type":"monitor","index":2})", 2},          {"{\"index\" :\t +3,\"type\":\"monitor\"}", 3},
      {R"({"index":"2","type":"monitor"})", 0}, // the quote stops the digits
      {R"({"monitor":true,"index":"x"})", 0},          {R"({"type":"monitor","index":-1})", std::nullopt},
      {R"({"type":"monitor","index"})", std::nullopt}, {R"({"type":"monitors","index":1})", std::nullopt},
      {R"({"type":"monitor","idx":1})", std::nullopt}, {R"({"type":"monitor","index":99999999999999})", INT32_MAX},
  };
  for (const auto& [text, index] : cases) EXPECT_EQ(parseMonitorSelection(text), index) << text;
}

TEST_F(Input, TheHandlerRoutesSelectionsRelayedEventsAndDeepMessages) {
  rig();
  handle(R"({"type":"tap","x":0.1,"monitor":"","index":2})");
  handle(R"({"type":"monitor","index":-1})"); // no selection: goes on, and does nothing
  handle(R"({"type":"clipboard","text":"x","clipwatch":1})");
  handle(R"({"type":"text","text":"x","n":)" + std::string(100000, '[') + std::string(100000, ']') + "}");
  EXPECT_EQ(monitors, std::vector<int32_t>{2});
  EXPECT_EQ(clipWatch, std::vector<bool>{true});
  EXPECT_EQ(logs, std::vector<std::string>{"warn input: message dropped (nested more than 32 levels deep)"});
  EXPECT_TRUE(state->calls.empty());

  relayUp = true;
  elevatedPid = 500;
  injector->setClipboardHooks({nullptr, nullptr, [](const ReplyFn& send) { send("clipdata"); }});
  handle(R"({"type":"keydown","code":"KeyA"})", true); // view-only: never relayed
  handle(R"({"type":"clipget"})", true);
  handle(R"({"type":"tap","x":0.1,"y":0.1})");
  handle(R"({"type":"clippaste"})");
  handle(R"({"type":"sas"})");
  handler.handleText(nullptr, false, R"({"type":"down"})");
  EXPECT_EQ(relayed, (std::vector<std::string>{R"({"type":"tap","x":0.1,"y":0.1})", R"({"type":"clippaste"})"}));
  EXPECT_EQ(replies, std::vector<std::string>{"clipdata"});
  EXPECT_EQ(elevationChecks, 0);
  ASSERT_EQ(state->calls.size(), 2u); // the key, injected here, and the secure attention
  EXPECT_EQ(state->calls[1].kind, Call::SecureAttention);

  relayUp = false; // a relay that refuses leaves the event to local injection
  handle(R"({"type":"tap","x":0.1,"y":0.1})");
  EXPECT_EQ(state->calls.size(), 5u);
}

TEST_F(Input, TheHandlerWarnsOncePerAdministratorWindowInFront) {
  rig();
  // The notice names the window's program, made safe when it is unreadable or foreign.
  const auto noticed = [this](const std::string& name) {
    return notices.back().find("\"text\":\"" + name + " is running as administrator") != std::string::npos;
  };
  elevatedPid = 1234;
  handle(R"({"type":"down"})");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(noticed("regedit.exe")) << notices.back();
  EXPECT_EQ(logs, std::vector<std::string>{"warn input: regedit.exe (pid 1234) runs as administrator \xE2\x80\x94 "
                                           "Windows drops remote input to it"});
  EXPECT_EQ(state->calls.size(), 2u); // the event is still injected

  handle(R"({"type":"down"})"); // same window: nothing new
  handle(R"({"type":"text","text":"x"})");
  const int checks = elevationChecks;
  handle(R"({"type":"move"})"); // moves never ask
  handle(R"({"type":"scroll"})");
  EXPECT_EQ(elevationChecks, checks);
  elevatedPid = 0; // after a normal window the same one is new again
  handle(R"({"type":"keydown","code":"KeyA"})");
  EXPECT_EQ(handler.lastElevatedPid(), 0u);
  elevatedPid = 1234;
  handle(R"({"type":"tap"})");
  EXPECT_EQ(notices.size(), 2u);

  for (auto [pid, name, shown] :
       {std::tuple{9u, u"", "The window in front"}, {10u, u"r\u00e9g\U0001F600.exe", "r?g??.exe"}}) {
    elevatedPid = pid;
    imageName = name;
    handle(R"({"type":"tap"})");
    EXPECT_TRUE(noticed(shown)) << notices.back();
    EXPECT_NE(logs.back().find(std::string(shown) + " (pid " + std::to_string(pid)), std::string::npos);
  }
  EXPECT_EQ(handler.lastElevatedPid(), 10u);

  // A notice that fails still logs, and the event is injected.
  InputChannelHooks h = hooks();
  h.sendNotice = [](const std::string&) { throw std::runtime_error("channel closed"); };
  InputChannelHandler failing(h, probe());
  rig();
  elevatedPid = 3;
  EXPECT_NO_THROW(failing.handleText(injector.get(), false, R"({"type":"down"})"));
  EXPECT_EQ(logs.size(), 5u);
  EXPECT_EQ(state->calls.size(), 2u);
}

} // namespace
} // namespace dravnok
