// The viewer's input messages through the channel handler and the injector
// down to platform-neutral records, with a backend that keeps them.
#include "input/input_channel_handler.h"
#include "input/input_messages.h"
#include "input/key_tables.h"
#include "input/recording_backend.h"

#include <gtest/gtest.h>

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
    r = std::make_unique<Rig>(viewOnly, rect, agentPid);
  }
  void run(std::string_view text) { dispatchInputMessage(r->injector, text, reply); }
  void handle(const std::string& text, bool viewOnly = false) { handler.handleText(&r->injector, viewOnly, text); }
  const std::vector<Call>& calls() const { return r->state->calls; }
  InputChannelHooks hooks() {
    InputChannelHooks h;
    h.switchMonitor = [this](int32_t index) { trace.push_back("monitor " + std::to_string(index)); };
    h.parseClipWatch = [](std::string_view text) { return text.find("\"clipwatch\"") == text.npos ? -1 : 1; };
    h.setClipWatch = [this](bool on) { trace.push_back(on ? "clipwatch on" : "clipwatch off"); };
    h.forwardToRelay = [this](const std::string& text) { return relayUp && (trace.push_back("relay " + text), true); };
    h.log = [this](const std::string& level, const std::string& message) { trace.push_back(level + " " + message); };
    h.sendNotice = [this](const std::string& notice) {
      if (noticeFails) throw std::runtime_error("channel closed");
      notices.push_back(notice);
    };
    h.reply = reply;
    return h;
  }

  std::unique_ptr<Rig> r;
  std::vector<std::string> trace, notices; // what reached the hooks, and the notices sent
  ReplyFn reply = [this](const std::string& text) { trace.push_back("reply " + text); };
  bool relayUp = false, noticeFails = false;
  uint32_t elevatedPid = 0; // 0: nothing elevated in front
  int elevationChecks = 0;
  std::u16string imageName = u"regedit.exe";
  InputChannelHandler handler{hooks(),
                              {[this](uint32_t& pid) {
                                 ++elevationChecks;
                                 pid = elevatedPid;
                                 return pid != 0;
                               },
                               [this](uint32_t) { return imageName; }}};
};

TEST_F(Input, KeyTablesGiveTheVirtualKeyAndTheExtendedFlag) {
  // Name, virtual key and extended flag: the ends of the numbered runs, every
  // listed key, and by key value only the editing and arrow keys (printable
  // keys come as text).
  const auto check = [](auto lookup, const char* table) {
    std::istringstream listed(table);
    for (std::string name; listed >> name;) {
      unsigned vk = 0, extended = 0;
      listed >> std::hex >> vk >> extended;
      EXPECT_EQ(lookup(name), (KeyInfo{uint16_t(vk), uint8_t(extended)})) << name;
    }
  };
  check(lookupCode, R"(KeyA 41 0  KeyZ 5A 0  Digit0 30 0  Digit9 39 0  F1 70 0  F24 87 0  Numpad0 60 0  Numpad9 69 0
      ControlLeft A2 0  ControlRight A3 1  ShiftLeft A0 0  ShiftRight A1 0  AltLeft A4 0  AltRight A5 1  MetaLeft 5B 1
      MetaRight 5C 1  ContextMenu 5D 1  Enter 0D 0  Space 20 0  Tab 09 0  Backspace 08 0  Escape 1B 0  CapsLock 14 0
      Insert 2D 1  Delete 2E 1  Home 24 1  End 23 1  PageUp 21 1  PageDown 22 1  ArrowUp 26 1  ArrowDown 28 1
      ArrowLeft 25 1  ArrowRight 27 1  Backquote C0 0  Minus BD 0  Equal BB 0  BracketLeft DB 0  BracketRight DD 0
      Backslash DC 0  Semicolon BA 0  Quote DE 0  Comma BC 0  Period BE 0  Slash BF 0  NumpadAdd 6B 0
      NumpadSubtract 6D 0  NumpadMultiply 6A 0  NumpadDivide 6F 1  NumpadDecimal 6E 0  NumpadEnter 0D 1  NumLock 90 1
      PrintScreen 2C 1  ScrollLock 91 0  Pause 13 0)");
  check(lookupKeyName, R"(Enter 0D 0  Backspace 08 0  Tab 09 0  Escape 1B 0  Delete 2E 1  Home 24 1  End 23 1
      ArrowUp 26 1  ArrowDown 28 1  ArrowLeft 25 1  ArrowRight 27 1)");
  for (const char* name : {"keya", "KeyAA", "F25", "Numpad10", "Lang1", ""}) EXPECT_FALSE(lookupCode(name)) << name;
  for (const char* name : {"a", "PageUp", "KeyA", "enter", ""}) EXPECT_FALSE(lookupKeyName(name)) << name;
}

TEST_F(Input, EachMessageBecomesItsRecordsAndAMistypedMemberDropsItWholeAndClipgetNeedsAWayBack) {
  struct Case {
    const char* text;
    Records records;
    std::vector<std::string> clipboard = {}; // what the clipboard hooks got
  };
  const Case cases[] = {
      {R"({"type":"move","x":18446744073709551615,"y":-1e300})", {moveTo(65535, 0)}},
      {R"({"type":"down","x":0.5,"y":0.5,"button":7})", {moveTo(32768, 32768), mouseFlags(mouseflag::leftDown)}},
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
      {R"({"type":"key","key":"ArrowUp"})", {key(0x26, kExt), key(0x26, kExt | kUp)}},
      {R"({"type":"text","text":"a\u00e9\ud834\udd1e"})",
       {unit('a'), unit('a', kUp), unit(0xE9), unit(0xE9, kUp), unit(0xD834), unit(0xD834, kUp), unit(0xDD1E),
        unit(0xDD1E, kUp)}},
      {R"({"type":"clippaste"})", {key(0x11), key('V'), key('V', kUp), key(0x11, kUp)}},
      {R"({"type":"clipboard","text":"hi"})", {}, {"hi"}},
      {R"({"type":"clipboard"})", {}, {""}},
      {R"({"type":"clipimg","seq":1,"total":3,"data":"QUJD"})", {}, {"1/3:QUJD"}},
      {R"({"type":"clipimg"})", {}, {"0/0:"}},
      {R"({"type":"move","x":"0.5","y":0.5})", {}},
      {R"({"type":"tap","y":{}})", {}},
      {R"({"type":"down","x":0.5,"button":"2"})", {}},
      {R"({"type":"up","y":null})", {}},
      {R"({"type":"scroll","x":0.1,"dy":[100]})", {}},
      {R"({"type":"swipe","x":0,"y":0,"x2":1,"y2":1,"ms":"200"})", {}},
      {R"({"type":"keydown","code":65})", {}},
      {R"({"type":"clipimg","seq":"1","total":3,"data":"QUJD"})", {}},
      {R"({"type":"clipboard","text":1})", {}},
  };
  for (const Case& c : cases) {
    rig();
    std::vector<std::string> clipboard;
    r->injector.setClipboardHooks(
        {[&](InputInjector& to, const std::string& text) { clipboard.push_back(&to == &r->injector ? text : "?"); },
         [&](InputInjector&, int32_t seq, int32_t total, const std::string& data) {
           clipboard.push_back(std::to_string(seq) + "/" + std::to_string(total) + ":" + data);
         },
         nullptr});
    run(c.text);
    EXPECT_EQ(r->state->records(), c.records) << c.text;
    EXPECT_EQ(clipboard, c.clipboard) << c.text;
  }

  // A clipget needs a way back, and a failing hook does not escape; its
  // answer is pinned by the handler test below.
  rig();
  r->injector.setClipboardHooks({nullptr, nullptr, [this](const ReplyFn&) { trace.push_back("asked"); }});
  dispatchInputMessage(r->injector, R"({"type":"clipget"})", nullptr); // as in the relay
  EXPECT_TRUE(trace.empty());
  r->injector.setClipboardHooks({nullptr, nullptr, [](const ReplyFn&) { throw std::runtime_error("gone"); }});
  EXPECT_NO_THROW(run(R"({"type":"clipget"})"));
}

TEST_F(Input, PositionsAreNormalisedAgainstTheVirtualDesktopAndClamped) {
  const VirtualDesktop twoSideBySide{0, 0, 3840, 1080};
  const std::tuple<MonitorRect, VirtualDesktop, double, double, MouseInput> cases[] = {
      {{1920, 1080, 1920, 0}, twoSideBySide, 0.5, 0.5, moveTo(49151, 32768)}, // the right one of two
      {{1920, 1080, 1920, 0}, twoSideBySide, -0.2, 1.7, moveTo(32768, 65535)},
      {{1920, 1080, -4000, 2000}, twoSideBySide, 0, 0, moveTo(0, 65535)}, // beyond the desktop
      {{1920, 1080, -1920, -200}, {-1920, -200, 3840, 1280}, 1, 1, moveTo(32768, 55295)},
      {{0, 7, -1920, 0}, {0, 0, 0, 0}, 0.5, 0.5, moveTo(0, 65535)}, // no size: no division by zero
  };
  for (const auto& [monitor, desktop, x, y, expected] : cases) {
    rig(false, monitor);
    r->state->desktop = desktop;
    r->injector.movePointer(x, y);
    EXPECT_EQ(r->state->records(), Records{expected}) << x << "," << y << " on " << monitor.left;
  }
}

TEST_F(Input, SwipeStepsAndPausesFollowTheDuration) {
  // Ten milliseconds a step, at least one and at most 200 steps, within 5 s.
  for (const auto& [ms, steps, pause] :
       {std::tuple{200, 20, 10}, {0, 1, 0}, {20000, 200, 25}, {-300, 1, 0}, {15, 1, 15}}) {
    rig();
    r->injector.swipe(0, 0, 1, 1, ms);
    int pauses = 0;
    for (const Call& call : calls()) pauses += call.ms == pause && call.kind == Call::Pause;
    EXPECT_EQ(pauses, pause ? steps : 0) << ms;
    // A move, the button, the steps, the final move and the release.
    const Records moves = r->state->records();
    ASSERT_EQ(moves.size(), size_t(steps) + 4) << ms;
    EXPECT_EQ(moves[1], InputRecord{mouseFlags(mouseflag::leftDown)});
    EXPECT_EQ(moves[steps + 1], InputRecord{moveTo(65535, 65535)});
    EXPECT_EQ(moves.back(), InputRecord{mouseFlags(mouseflag::leftUp)});
    EXPECT_TRUE(steps % 2 || moves[steps / 2 + 1] == InputRecord{moveTo(32768, 32768)}) << "halfway";
  }
}

TEST_F(Input, TypedTextIsBoundedInUtf16Units) {
  rig();
  const size_t limit = InputInjector::kMaxTypedUnits;
  // Each byte of ill-formed text is one replacement unit.
  for (const auto& text :
       {std::string(limit + 1, 'x'), std::string(3 * limit + 1, '\xFF'), std::string(limit, '\xFF')}) {
    r->injector.typeText(text);
  }
  ASSERT_EQ(calls().size(), 1u);
  EXPECT_EQ(calls()[0].records.size(), 2 * limit);
}

TEST_F(Input, ViewOnlyAndProtectedWindowsInFrontStopEverythingButSecureAttention) {
  const auto everything = [this] {
    for (const char* text :
         {R"({"type":"move"})", R"({"type":"down"})", R"({"type":"scroll","dx":1,"dy":1})", R"({"type":"tap"})",
          R"({"type":"swipe"})", R"({"type":"swipe","ms":1e12})", R"({"type":"swipe","ms":-300})",
          R"({"type":"text","text":"x"})", R"({"type":"key","key":"Enter"})", R"({"type":"keydown","code":"KeyA"})",
          R"({"type":"clippaste"})", R"({"type":"sas"})"}) {
      run(text);
    }
  };
  rig(true);
  everything();
  EXPECT_TRUE(calls().empty());

  // Ours, the agent's and the helper's windows are protected; others are not.
  const uint32_t agent = 77, helper = 88;
  for (const auto& [front, blocked] : {std::pair{4242u, true}, {agent, true}, {helper, true}, {99u, false}}) {
    rig(false, {1920, 1080, 0, 0}, agent);
    r->injector.setHelperPid(helper);
    r->state->foregroundPid = front;
    everything();
    // Swipes of 200 ms by default (20 steps), of 5 s at most (200 steps) and of one step.
    EXPECT_EQ(calls().size(), blocked ? 1u : 467u) << front;
    EXPECT_EQ(calls().back().kind, Call::SecureAttention);
  }
}

TEST_F(Input, TheHandlerRoutesSelectionsRelayedEventsAndDeepMessages) {
  rig();
  // A selection is the number after "index" wherever "monitor" is quoted.
  handle(R"({"type":"tap","x":0.1,"monitor":"","index":2})");
  handle("{\"index\" :\t +99999999999999,\"type\":\"monitor\"}"); // saturates
  handle(R"({"type":"monitor","index":-1})");                     // no selection: goes on, and does nothing
  handle(R"({"type":"clipboard","text":"x","clipwatch":1})");
  handle(R"({"type":"text","text":"x","n":)" + std::string(100000, '[') + std::string(100000, ']') + "}");
  EXPECT_EQ(trace, (std::vector<std::string>{"monitor 2", "monitor 2147483647", "clipwatch on",
                                             "warn input: message dropped (nested more than 32 levels deep)"}));
  EXPECT_TRUE(calls().empty());

  relayUp = true;
  elevatedPid = 500;
  trace.clear();
  handle(R"({"type":7})"); // typeless: not for the relay
  r->injector.setClipboardHooks({nullptr, nullptr, [](const ReplyFn& send) { send("clipdata"); }});
  handle(R"({"type":"keydown","code":"KeyA"})", true); // view-only: never relayed
  handle(R"({"type":"clipget"})", true);
  handle(R"({"type":"tap","x":0.1,"y":0.1})");
  handle(R"({"type":"clippaste"})");
  handle(R"({"type":"sas"})");
  handler.handleText(nullptr, false, R"({"type":"down"})");
  EXPECT_EQ(trace, (std::vector<std::string>{"reply clipdata", R"(relay {"type":"tap","x":0.1,"y":0.1})",
                                             R"(relay {"type":"clippaste"})"}));
  EXPECT_EQ(elevationChecks, 0);
  ASSERT_EQ(calls().size(), 2u); // the key, injected here, and the secure attention
  EXPECT_EQ(calls()[1].kind, Call::SecureAttention);

  relayUp = false; // a relay that refuses leaves the event to local injection
  handle(R"({"type":"tap","x":0.1,"y":0.1})");
  EXPECT_EQ(calls().size(), 5u);
}

TEST_F(Input, TheHandlerWarnsOncePerAdministratorWindowInFront) {
  rig();
  const std::tuple<uint32_t, const char16_t*, const char*> fronts[] = {
      {1234, u"regedit.exe", R"({"type":"down"})"},
      {1234, u"regedit.exe", R"({"type":"down"})"}, // the same window: nothing new
      {1234, u"regedit.exe", R"({"type":"text","text":"x"})"},
      {1234, u"regedit.exe", R"({"type":"move"})"},    // moves never ask
      {0, u"", R"({"type":"keydown","code":"KeyA"})"}, // after a normal window
      {1234, u"regedit.exe", R"({"type":"tap"})"},     // the same one is new again
      {9, u"", R"({"type":"tap"})"},                   // the name made safe
      {10, u"r\u00e9g\U0001F600.exe", R"({"type":"tap"})"},
  };
  for (const auto& [pid, name, text] : fronts) {
    elevatedPid = pid;
    imageName = name;
    handle(text);
  }
  EXPECT_EQ(elevationChecks, 7);
  EXPECT_EQ(r->state->records().size(), 17u) << "the events are still injected";
  const auto log = [](const std::string& name, int pid) {
    return "warn input: " + name + " (pid " + std::to_string(pid) +
           ") runs as administrator \xE2\x80\x94 Windows drops remote input to it";
  };
  EXPECT_EQ(trace, (std::vector{log("regedit.exe", 1234), log("regedit.exe", 1234), log("The window in front", 9),
                                log("r?g??.exe", 10)}));
  ASSERT_EQ(notices.size(), 4u);
  EXPECT_NE(notices[3].find(R"("text":"r?g??.exe is running as administrator)"), std::string::npos) << notices[3];

  // A notice that fails still logs, and the event is injected.
  noticeFails = true;
  rig();
  elevatedPid = 3;
  EXPECT_NO_THROW(handle(R"({"type":"down"})"));
  EXPECT_EQ(trace.size(), 5u);
  EXPECT_EQ(calls().size(), 2u);
}

} // namespace
} // namespace dravnok
