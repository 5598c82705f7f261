#include "host/control_loop.h"
#include "host/diagnostic_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

using namespace dravnok;
using namespace dravnok::host;
using ::testing::ElementsAre;

namespace {

struct RecordingSession : SessionControl {
  std::vector<std::string> calls;
  std::vector<IceServerEntry> servers;
  void start(const std::string& id, bool viewOnly, const std::vector<IceServerEntry>& s, uint32_t pid) override {
    calls.push_back("start " + id + (viewOnly ? " view-only " : " control ") + std::to_string(pid));
    servers = s;
  }
  void handleOffer(const std::string& sdp) override { calls.push_back("offer " + sdp); }
  void addRemoteCandidate(const std::string& c, const std::string& mid) override {
    calls.push_back("ice " + c + " " + mid);
  }
  void stop() override { calls.push_back("stop"); }
};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Runs the loop over `input` and returns the event lines it wrote.
std::vector<std::string> run(const std::string& input, RecordingSession& session, HostState& state) {
  std::istringstream in(input);
  testing::internal::CaptureStdout();
  runControlLoop(in, session, state);
  return lines(testing::internal::GetCapturedStdout());
}

} // namespace

TEST(ControlLoop, StartReadsFieldsWithDefaultsAndExactMode) {
  RecordingSession session;
  HostState state;
  state.parentPid = 77;
  auto out = run("{\"cmd\":\"start\",\"sessionId\":\"s1\"}\n"
                 "{\"cmd\":\"start\",\"mode\":\"Control\"}\n"
                 "{\"cmd\":\"start\",\"mode\":\"control\",\"viewerName\":\"Ann\"}\n",
                 session, state);
  EXPECT_TRUE(out.empty());
  EXPECT_THAT(session.calls, ElementsAre("start s1 view-only 77", "start  view-only 77", "start  control 77"));
  EXPECT_EQ(state.currentViewerName(), "Ann");
}

TEST(ControlLoop, StartPassesParsedIceServers) {
  RecordingSession session;
  HostState state;
  run(R"({"cmd":"start","iceServers":[{"urls":["stun:a:1","turn:b:2"],"username":"u","credential":"p"},)"
      R"({"urls":[5,"stun:c"]},{"urls":7},{"username":"x"},"junk"]})"
      "\n",
      session, state);
  EXPECT_THAT(session.servers, ElementsAre(IceServerEntry{"stun:a:1", "u", "p"}, IceServerEntry{"turn:b:2", "u", "p"},
                                           IceServerEntry{"stun:c", "", ""}));
}

TEST(ControlLoop, NonObjectLinesWarnAndEmptyLinesAreSkipped) {
  RecordingSession session;
  HostState state;
  auto out = run("[1,2]\nhello\n\n\r\n{\"cmd\":\"stop\"} {\"cmd\":\"stop\"}\n\"str\"\n", session, state);
  const std::string warn = R"({"evt":"log","level":"warn","msg":"ignoring non-JSON stdin line"})";
  EXPECT_THAT(out, ElementsAre(warn, warn, warn, warn));
  EXPECT_TRUE(session.calls.empty());
}

TEST(ControlLoop, OverlongAndDeeplyNestedLinesWarnAndAreDropped) {
  RecordingSession session;
  HostState state;
  const std::string deep = R"({"cmd":"offer","sdp":"x","n":)" + std::string(100000, '[') + std::string(100000, ']');
  const std::string longSdp(kMaxCommandLineBytes, 'v');
  auto out = run(deep + "}\n{\"cmd\":\"offer\",\"sdp\":\"" + longSdp + "\"}\n", session, state);
  EXPECT_THAT(
      out,
      ElementsAre(R"x({"evt":"log","level":"warn","msg":"ignoring stdin line (nested more than 32 levels deep)"})x",
                  R"x({"evt":"log","level":"warn","msg":"ignoring stdin line (1048600 bytes, more than 1048576)"})x"));
  EXPECT_TRUE(session.calls.empty());
}

TEST(ControlLoop, UnknownMissingAndMistypedCommandsWarnAndGoOn) {
  RecordingSession session;
  HostState state;
  auto out = run("{\"foo\":1}\n{\"cmd\":\"Start\"}\n{\"cmd\":5}\n{\"cmd\":\"start\",\"sessionId\":5}\n"
                 "{\"cmd\":\"ice\",\"candidate\":\"x\"}\n{\"cmd\":\"ice\",\"candidate\":{\"candidate\":1}}\n"
                 "{\"cmd\":\"offer\",\"sdp\":[]}\n{\"cmd\":\"offer\",\"sdp\":\"v=0\"}\n",
                 session, state);
  EXPECT_THAT(out, ElementsAre(R"({"evt":"log","level":"warn","msg":"unknown cmd: "})",
                               R"({"evt":"log","level":"warn","msg":"unknown cmd: Start"})",
                               R"({"evt":"log","level":"warn","msg":"ignoring malformed command"})",
                               R"({"evt":"log","level":"warn","msg":"ignoring malformed start command"})",
                               R"({"evt":"log","level":"warn","msg":"ignoring malformed ice command"})",
                               R"({"evt":"log","level":"warn","msg":"ignoring malformed ice command"})",
                               R"({"evt":"log","level":"warn","msg":"ignoring malformed offer command"})"));
  EXPECT_THAT(session.calls, ElementsAre("offer v=0"));
}

TEST(ControlLoop, IceWithoutCandidateIsSilentAndOtherMembersAreIgnored) {
  RecordingSession session;
  HostState state;
  auto out =
      run("{\"cmd\":\"ice\",\"candidate\":null}\n{\"cmd\":\"ice\"}\n"
          "{\"cmd\":\"ice\",\"candidate\":{\"candidate\":\"candidate:1\",\"sdpMid\":\"0\",\"sdpMLineIndex\":3}}\n"
          "{\"cmd\":\"ice\",\"candidate\":{}}\n",
          session, state);
  EXPECT_TRUE(out.empty());
  EXPECT_THAT(session.calls, ElementsAre("ice candidate:1 0", "ice  "));
}

TEST(ControlLoop, StopEndsTheLoopBeforeTheNextLine) {
  RecordingSession session;
  HostState state;
  run("{\"cmd\":\"stop\"}\n{\"cmd\":\"offer\",\"sdp\":\"late\"}\n", session, state);
  EXPECT_TRUE(session.calls.empty());
}

TEST(ControlLoop, AQuitRequestedWhileALineIsHandledEndsTheLoopAfterIt) {
  struct FailingSession : RecordingSession {
    HostState* state = nullptr;
    void start(const std::string& id, bool v, const std::vector<IceServerEntry>& s, uint32_t pid) override {
      RecordingSession::start(id, v, s, pid);
      state->quitRequested = true; // as the state handler does on "failed"
    }
  } session;
  HostState state;
  session.state = &state;
  run("{\"cmd\":\"start\"}\n{\"cmd\":\"offer\",\"sdp\":\"x\"}\n", session, state);
  EXPECT_THAT(session.calls, ElementsAre("start  view-only 0"));
}
