#include "host/control_loop.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace dravnok;
using namespace dravnok::host;
using Lines = std::vector<std::string>;

namespace {

// Records the calls, a start with its ICE servers as url|username|credential;
// a start of session "fail" asks to quit, as the state handler does on
// "failed".
struct RecordingSession : SessionControl {
  HostState& state;
  explicit RecordingSession(HostState& s) : state(s) {}
  Lines calls;
  void start(const std::string& id, bool viewOnly, const std::vector<IceServerEntry>& servers, uint32_t pid) override {
    calls.push_back("start " + id + (viewOnly ? " view-only " : " control ") + std::to_string(pid));
    for (const auto& s : servers) calls.back() += " " + s.url + "|" + s.username + "|" + s.credential;
    if (id == "fail") state.quitRequested = true;
  }
  void handleOffer(const std::string& sdp) override { calls.push_back("offer " + sdp); }
  void addRemoteCandidate(const std::string& c, const std::string& mid) override {
    calls.push_back("ice " + c + " " + mid);
  }
  void stop() override { calls.push_back("stop"); }
};

struct Loop {
  HostState state;
  RecordingSession session{state};
  Lines out;
  explicit Loop(const std::string& input) {
    state.parentPid = 77;
    std::istringstream in(input);
    testing::internal::CaptureStdout();
    runControlLoop(in, session, state);
    std::istringstream written(testing::internal::GetCapturedStdout());
    for (std::string line; std::getline(written, line);) out.push_back(line);
  }
};

std::string warn(const std::string& msg) { return R"({"evt":"log","level":"warn","msg":")" + msg + "\"}"; }

} // namespace

TEST(ControlLoop, CommandsBecomeSessionCallsAndBadLinesWarnAndAreSkipped) {
  const std::string deep = R"({"cmd":"offer","sdp":"x","n":)" + std::string(100000, '[') + std::string(100000, ']');
  const std::string nonJson = warn("ignoring non-JSON stdin line");
  const struct {
    std::string input;
    Lines out, calls;
  } cases[] = {
      {"{\"cmd\":\"start\",\"sessionId\":\"s1\"}\n{\"cmd\":\"start\",\"mode\":\"Control\"}\n"
       "{\"cmd\":\"start\",\"mode\":\"control\",\"viewerName\":\"Ann\"}\n",
       {},
       {"start s1 view-only 77", "start  view-only 77", "start  control 77"}},
      {R"({"cmd":"start","iceServers":[{"urls":["stun:a:1","turn:b:2"],"username":"u","credential":"p"},)"
       R"({"urls":[5,"stun:c"]},{"urls":7},{"username":"x"},"junk"]})"
       "\n",
       {},
       {"start  view-only 77 stun:a:1|u|p turn:b:2|u|p stun:c||"}},
      // Invalid UTF-8 makes a line unreadable.
      {"[1,2]\nhello\n\n\r\n{\"cmd\":\"stop\"} {\"cmd\":\"stop\"}\n\"str\"\n{\"cmd\":\"x\xff\"}\n",
       {nonJson, nonJson, nonJson, nonJson, nonJson},
       {}},
      {deep + "}\n{\"cmd\":\"offer\",\"sdp\":\"" + std::string(kMaxCommandLineBytes, 'v') + "\"}\n",
       {warn("ignoring stdin line (nested more than 32 levels deep)"),
        warn("ignoring stdin line (1048600 bytes, more than 1048576)")},
       {}},
      {"{\"foo\":1}\n{\"cmd\":\"Start\"}\n{\"cmd\":5}\n{\"cmd\":\"start\",\"sessionId\":5}\n"
       "{\"cmd\":\"ice\",\"candidate\":\"x\"}\n{\"cmd\":\"ice\",\"candidate\":{\"candidate\":1}}\n"
       "{\"cmd\":\"offer\",\"sdp\":[]}\n{\"cmd\":\"offer\",\"sdp\":\"v=0\"}\r\n",
       {warn("unknown cmd: "), warn("unknown cmd: Start"), warn("ignoring malformed command"),
        warn("ignoring malformed start command"), warn("ignoring malformed ice command"),
        warn("ignoring malformed ice command"), warn("ignoring malformed offer command")},
       {"offer v=0"}}, // CRLF ends a line too
      // No candidate is silent (end of candidates); other members are ignored.
      {"{\"cmd\":\"ice\",\"candidate\":null}\n{\"cmd\":\"ice\"}\n"
       "{\"cmd\":\"ice\",\"candidate\":{\"candidate\":\"candidate:1\",\"sdpMid\":\"0\",\"sdpMLineIndex\":3}}\n"
       "{\"cmd\":\"ice\",\"candidate\":{}}\n",
       {},
       {"ice candidate:1 0", "ice  "}},
      // Stop, and a quit asked for while a line is handled, end the loop
      // before the next line.
      {"{\"cmd\":\"stop\"}\n{\"cmd\":\"offer\",\"sdp\":\"late\"}\n", {}, {}},
      {"{\"cmd\":\"start\",\"sessionId\":\"fail\"}\n{\"cmd\":\"offer\",\"sdp\":\"x\"}\n",
       {},
       {"start fail view-only 77"}},
  };
  for (const auto& c : cases) {
    Loop run(c.input);
    EXPECT_EQ(run.out, c.out) << c.input.substr(0, 200);
    EXPECT_EQ(run.session.calls, c.calls) << c.input.substr(0, 200);
  }
  EXPECT_EQ(Loop(cases[0].input).state.currentViewerName(), "Ann");
}
