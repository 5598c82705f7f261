#include "input/input_messages.h"
#include "recording_backend.h"

#include <gtest/gtest.h>

using namespace dravnok;
using namespace dravnok::testing_support;
using Records = std::vector<InputRecord>;

namespace {

struct Dispatch : ::testing::Test {
  Rig rig;
  std::vector<std::string> replies;
  ReplyFn reply = [this](const std::string& text) { replies.push_back(text); };

  void run(std::string_view text) { dispatchInputMessage(rig.injector, text, reply); }
  Records sent() const { return rig.state->records(); }
};

} // namespace

TEST_F(Dispatch, PointerMessagesUseTheirDefaults) {
  run(R"({"type":"move"})");
  EXPECT_EQ(sent(), Records{moveTo(0, 0)});

  rig.state->calls.clear();
  run(R"({"type":"down","x":0.5,"y":0.5,"button":7})");
  run(R"({"type":"up","x":0.5,"y":0.5})");
  run(R"({"type":"down","button":1.9})"); // a decimal is truncated
  EXPECT_EQ(sent(), (Records{moveTo(32768, 32768), mouseFlags(mouseflag::leftDown), moveTo(32768, 32768),
                             mouseFlags(mouseflag::leftUp), moveTo(0, 0), mouseFlags(mouseflag::middleDown)}));

  rig.state->calls.clear();
  run(R"({"type":"scroll","dy":100,"dx":-50})");
  run(R"({"type":"tap","x":1,"y":1})");
  EXPECT_EQ(sent(),
            (Records{moveTo(0, 0), MouseInput{0, 0, -120, mouseflag::wheel}, MouseInput{0, 0, -60, mouseflag::hwheel},
                     moveTo(65535, 65535), mouseFlags(mouseflag::leftDown), mouseFlags(mouseflag::leftUp)}));
}

TEST_F(Dispatch, SwipeDefaultsToTwoHundredMilliseconds) {
  run(R"({"type":"swipe","x":0,"y":0,"x2":1,"y2":1})");
  int total = 0;
  for (const Call& call : rig.state->calls) total += call.kind == Call::Pause ? call.ms : 0;
  EXPECT_EQ(total, 200);
  EXPECT_EQ(sent().back(), InputRecord{mouseFlags(mouseflag::leftUp)});

  // Integers beyond 32 bits saturate and then clamp like any long swipe.
  rig.state->calls.clear();
  run(R"({"type":"swipe","ms":1e12})");
  total = 0;
  for (const Call& call : rig.state->calls) total += call.kind == Call::Pause ? call.ms : 0;
  EXPECT_EQ(total, 5000);
}

TEST_F(Dispatch, KeyboardMessages) {
  run(R"({"type":"keydown","code":"ShiftLeft"})");
  run(R"({"type":"keyup","code":"ShiftLeft"})");
  run(R"({"type":"keydown"})");
  run(R"({"type":"key","key":"Escape"})");
  run(R"({"type":"key","key":"a"})");
  run(R"({"type":"text","text":"\u00fc"})");
  run(R"({"type":"text"})");
  run(R"({"type":"clippaste"})");
  EXPECT_EQ(sent(), (Records{key(0xA0), key(0xA0, keyflag::keyUp), key(0x1B), key(0x1B, keyflag::keyUp),
                             KeyboardInput{0, 0xFC, keyflag::unicode},
                             KeyboardInput{0, 0xFC, keyflag::unicode | keyflag::keyUp}, key(0x11), key('V'),
                             key('V', keyflag::keyUp), key(0x11, keyflag::keyUp)}));

  rig.state->calls.clear();
  run(R"({"type":"sas"})");
  ASSERT_EQ(rig.state->calls.size(), 1u);
  EXPECT_EQ(rig.state->calls[0].kind, Call::SecureAttention);
}

TEST_F(Dispatch, ClipboardMessagesReachTheirHooks) {
  std::vector<std::string> seen;
  rig.injector.setClipboardHooks({[&](InputInjector& injector, const std::string& text) {
                                    EXPECT_EQ(&injector, &rig.injector);
                                    seen.push_back("text:" + text);
                                  },
                                  [&](InputInjector&, int32_t seq, int32_t total, const std::string& data) {
                                    seen.push_back("img:" + std::to_string(seq) + "/" + std::to_string(total) + ":" +
                                                   data);
                                  },
                                  [&](const ReplyFn& send) { send("clipdata"); }});
  run(R"({"type":"clipboard","text":"hi"})");
  run(R"({"type":"clipboard"})");
  run(R"({"type":"clipimg","seq":1,"total":3,"data":"QUJD"})");
  run(R"({"type":"clipimg"})");
  run(R"({"type":"clipget"})");
  EXPECT_EQ(seen, (std::vector<std::string>{"text:hi", "text:", "img:1/3:QUJD", "img:0/0:"}));
  EXPECT_EQ(replies, std::vector<std::string>{"clipdata"});

  // Without a way back, as in the relay, "clipget" does nothing.
  dispatchInputMessage(rig.injector, R"({"type":"clipget"})", nullptr);
  EXPECT_EQ(replies.size(), 1u);
  EXPECT_TRUE(rig.state->calls.empty());
}

TEST_F(Dispatch, MalformedAndUnknownMessagesAreIgnored) {
  for (const char* text : {"", "not json", "[1,2]", "\"move\"", "42", "{\"type\":\"Move\"}", "{\"x\":0.5}",
                           "{\"type\":\"notice\"}", "{\"type\":\"move\"", "{\"type\":\"move\"}{}"}) {
    run(text);
    EXPECT_TRUE(rig.state->calls.empty()) << text;
  }
}

TEST_F(Dispatch, AMistypedMemberDropsTheWholeMessage) {
  for (const char* text : {
           R"({"type":"move","x":"0.5","y":0.5})",
           R"({"type":"move","x":true})",
           R"({"type":"down","x":0.5,"button":"2"})",
           R"({"type":"up","y":null})",
           R"({"type":"scroll","x":0.1,"dy":[100]})",
           R"({"type":"swipe","x":0,"y":0,"x2":1,"y2":1,"ms":"200"})",
           R"({"type":"tap","y":{}})",
           R"({"type":"keydown","code":65})",
           R"({"type":"key","key":false})",
           R"({"type":"text","text":["a"]})",
           R"({"type":5})",
           R"({"type":null})",
           R"({"type":"clipimg","seq":"1","total":3,"data":"QUJD"})",
           R"({"type":"clipboard","text":1})",
       }) {
    bool hooked = false;
    rig.injector.setClipboardHooks({[&](InputInjector&, const std::string&) { hooked = true; },
                                    [&](InputInjector&, int32_t, int32_t, const std::string&) { hooked = true; },
                                    nullptr});
    run(text);
    EXPECT_TRUE(rig.state->calls.empty()) << text;
    EXPECT_FALSE(hooked) << text;
  }
  // Members that the type does not use are not looked at.
  run(R"({"type":"move","button":"left","code":1})");
  EXPECT_EQ(sent(), Records{moveTo(0, 0)});
}

TEST_F(Dispatch, AFailingHookDoesNotEscape) {
  rig.injector.setClipboardHooks({[](InputInjector&, const std::string&) { throw std::runtime_error("busy"); }, nullptr,
                                  [](const ReplyFn&) { throw std::runtime_error("gone"); }});
  EXPECT_NO_THROW(run(R"({"type":"clipboard","text":"x"})"));
  EXPECT_NO_THROW(run(R"({"type":"clipget"})"));
}

TEST(InputMessages, MessageTypeReadsOnlyAStringType) {
  EXPECT_EQ(messageType(R"({"type":"tap","x":1})"), "tap");
  EXPECT_EQ(messageType(R"({"type":""})"), "");
  EXPECT_EQ(messageType(R"({"type":7})"), "");
  EXPECT_EQ(messageType(R"({"kind":"tap"})"), "");
  EXPECT_EQ(messageType(R"(["type","tap"])"), "");
  EXPECT_EQ(messageType("{\"type\":\"tap\""), "");
  EXPECT_EQ(messageType(""), "");
}

TEST(InputMessages, InputEventTypesAreTheElevenRelayedOnes) {
  for (const char* type :
       {"move", "down", "up", "scroll", "keydown", "keyup", "text", "key", "tap", "swipe", "clippaste"}) {
    EXPECT_TRUE(isInputEventType(type)) << type;
  }
  for (const char* type : {"sas", "clipboard", "clipimg", "clipget", "clipwatch", "monitor", "", "Move", "_display"}) {
    EXPECT_FALSE(isInputEventType(type)) << type;
  }
}

TEST(InputMessages, NoticeIsCompactSortedAndKeepsUtf8) {
  EXPECT_EQ(buildNotice("elevated", "caf\xC3\xA9 \"x\""),
            "{\"code\":\"elevated\",\"text\":\"caf\xC3\xA9 \\\"x\\\"\",\"type\":\"notice\"}");
  // Ill-formed text does not throw.
  EXPECT_NO_THROW(buildNotice("elevated", "\xFF"));
}
