#include "input/input_channel_handler.h"
#include "input/input_messages.h"
#include "recording_backend.h"

#include <gtest/gtest.h>

using namespace dravnok;
using namespace dravnok::testing_support;

namespace {

const std::string noticeTail = " is running as administrator, so Windows blocks remote mouse and keyboard while it is "
                               "in front. Someone at the PC has to close it or click away from it.";

struct ChannelHandler : ::testing::Test {
  Rig rig;
  std::vector<int32_t> monitorSwitches;
  std::vector<bool> clipWatchSwitches;
  std::vector<std::string> relayed;
  bool relayConnected = false;
  std::vector<std::string> logs;
  std::vector<std::string> notices;
  std::vector<std::string> replies;
  uint32_t elevatedPid = 0; // 0: nothing elevated in front
  int elevationChecks = 0;
  std::u16string imageName = u"regedit.exe";

  InputChannelHooks hooks(bool withRelay) {
    InputChannelHooks h;
    h.switchMonitor = [this](int32_t index) { monitorSwitches.push_back(index); };
    h.parseClipWatch = [](std::string_view text) { return text.find("\"clipwatch\"") == text.npos ? -1 : 1; };
    h.setClipWatch = [this](bool on) { clipWatchSwitches.push_back(on); };
    if (withRelay) {
      h.forwardToRelay = [this](const std::string& text) {
        if (!relayConnected) return false;
        relayed.push_back(text);
        return true;
      };
    }
    h.log = [this](const std::string& level, const std::string& message) { logs.push_back(level + " " + message); };
    h.sendNotice = [this](const std::string& notice) { notices.push_back(notice); };
    h.reply = [this](const std::string& text) { replies.push_back(text); };
    return h;
  }

  ElevationProbe probe() {
    return {[this](uint32_t& pid) {
              ++elevationChecks;
              pid = elevatedPid;
              return elevatedPid != 0;
            },
            [this](uint32_t) { return imageName; }};
  }

  InputChannelHandler handler{hooks(true), probe()};

  void run(const std::string& text, bool viewOnly = false) { handler.handleText(&rig.injector, viewOnly, text); }
  size_t injected() const { return rig.state->calls.size(); }
};

} // namespace

TEST(MonitorSelection, ReadsTheNumberAfterTheQuotedIndex) {
  EXPECT_EQ(parseMonitorSelection(R"({"type":"monitor","index":2})"), 2);
  EXPECT_EQ(parseMonitorSelection("{\"index\" :\t +3,\"type\":\"monitor\"}"), 3);
  EXPECT_EQ(parseMonitorSelection(R"({"index":"2","type":"monitor"})"), 0) << "the quote stops the digits";
  EXPECT_EQ(parseMonitorSelection(R"({"monitor":true,"index":"x"})"), 0) << "no digits read as 0";
  EXPECT_EQ(parseMonitorSelection(R"({"type":"monitor","index":-1})"), std::nullopt);
  EXPECT_EQ(parseMonitorSelection(R"({"type":"monitor","index"})"), std::nullopt);
  EXPECT_EQ(parseMonitorSelection(R"({"type":"monitors","index":1})"), std::nullopt);
  EXPECT_EQ(parseMonitorSelection(R"({"type":"monitor","idx":1})"), std::nullopt);
  EXPECT_EQ(parseMonitorSelection(R"({"type":"monitor","index":99999999999999})"), INT32_MAX);
}

TEST_F(ChannelHandler, MonitorSelectionAndClipWatchNeverReachTheDispatcher) {
  run(R"({"type":"tap","x":0.1,"monitor":"","index":2})");
  EXPECT_EQ(monitorSwitches, std::vector<int32_t>{2});
  EXPECT_EQ(injected(), 0u);

  // A negative index is no selection: the text goes on, and without a known
  // type does nothing.
  run(R"({"type":"monitor","index":-1})");
  EXPECT_EQ(monitorSwitches.size(), 1u);
  EXPECT_EQ(injected(), 0u);

  run(R"({"type":"clipboard","text":"x","clipwatch":1})");
  EXPECT_EQ(clipWatchSwitches, std::vector<bool>{true});
  EXPECT_EQ(injected(), 0u);
}

TEST_F(ChannelHandler, DeeplyNestedMessagesAreDroppedWithAWarning) {
  const std::string deep =
      R"({"type":"text","text":"x","n":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
  run(deep);
  EXPECT_EQ(injected(), 0u);
  EXPECT_EQ(logs, std::vector<std::string>{"warn input: message dropped (nested more than 32 levels deep)"});
}

TEST_F(ChannelHandler, NoInjectorMeansNoInjection) {
  handler.handleText(nullptr, false, R"({"type":"down"})");
  EXPECT_EQ(elevationChecks, 0);
}

TEST_F(ChannelHandler, ViewOnlySessionsSkipTheRelayButStillAnswerClipget) {
  relayConnected = true;
  rig.injector.setClipboardHooks({nullptr, nullptr, [](const ReplyFn& reply) { reply("clipdata"); }});
  run(R"({"type":"keydown","code":"KeyA"})", true);
  run(R"({"type":"clipget"})", true);
  EXPECT_TRUE(relayed.empty());
  EXPECT_EQ(elevationChecks, 0);
  EXPECT_EQ(replies, std::vector<std::string>{"clipdata"});
}

TEST_F(ChannelHandler, AConnectedRelayCarriesInputEventsOnly) {
  relayConnected = true;
  elevatedPid = 500;
  run(R"({"type":"tap","x":0.1,"y":0.1})");
  run(R"({"type":"clippaste"})");
  run(R"({"type":"sas"})");
  EXPECT_EQ(relayed, (std::vector<std::string>{R"({"type":"tap","x":0.1,"y":0.1})", R"({"type":"clippaste"})"}));
  EXPECT_EQ(elevationChecks, 0);
  ASSERT_EQ(injected(), 1u);
  EXPECT_EQ(rig.state->calls[0].kind, Call::SecureAttention);

  // A relay that refuses leaves the event to local injection.
  relayConnected = false;
  rig.state->calls.clear();
  run(R"({"type":"tap","x":0.1,"y":0.1})");
  EXPECT_EQ(injected(), 3u);
}

TEST_F(ChannelHandler, WarnsOncePerAdministratorWindowInFront) {
  elevatedPid = 1234;
  run(R"({"type":"down"})");
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0], "warn input: regedit.exe (pid 1234) runs as administrator \xE2\x80\x94 Windows drops remote "
                     "input to it");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0], buildNotice("elevated", "regedit.exe" + noticeTail));
  EXPECT_GT(injected(), 0u) << "the event is still injected";

  // Same window: nothing new; moves never ask.
  run(R"({"type":"down"})");
  run(R"({"type":"text","text":"x"})");
  int checks = elevationChecks;
  run(R"({"type":"move"})");
  run(R"({"type":"scroll"})");
  EXPECT_EQ(elevationChecks, checks);
  EXPECT_EQ(logs.size(), 1u);

  // After a normal window the same administrator window is new again.
  elevatedPid = 0;
  run(R"({"type":"keydown","code":"KeyA"})");
  EXPECT_EQ(handler.lastElevatedPid(), 0u);
  elevatedPid = 1234;
  run(R"({"type":"tap"})");
  EXPECT_EQ(logs.size(), 2u);
  elevatedPid = 1235;
  run(R"({"type":"tap"})");
  EXPECT_EQ(logs.size(), 3u);
  EXPECT_EQ(handler.lastElevatedPid(), 1235u);
}

TEST_F(ChannelHandler, UnreadableOrForeignNamesAreMadeSafe) {
  elevatedPid = 9;
  imageName = u"";
  run(R"({"type":"tap"})");
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_NE(logs[0].find("input: The window in front (pid 9)"), std::string::npos);
  EXPECT_EQ(notices.at(0), buildNotice("elevated", "The window in front" + noticeTail));

  elevatedPid = 10;
  imageName = u"r\u00e9g\U0001F600.exe";
  run(R"({"type":"tap"})");
  EXPECT_EQ(notices.at(1), buildNotice("elevated", "r?g??.exe" + noticeTail));
}

TEST_F(ChannelHandler, AFailingNoticeStillLogs) {
  InputChannelHooks h = hooks(false);
  h.sendNotice = [](const std::string&) { throw std::runtime_error("channel closed"); };
  InputChannelHandler failing(h, probe());
  elevatedPid = 3;
  EXPECT_NO_THROW(failing.handleText(&rig.injector, false, R"({"type":"down"})"));
  EXPECT_EQ(logs.size(), 1u);
  EXPECT_GT(injected(), 0u);
}
