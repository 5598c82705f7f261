// The client against the real relay program, started with "runas" from
// beside this test binary. The relay injects into the test's desktop.
#include "relay/relay_client.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace dravnok::relay {
namespace {

struct LogLines {
  std::mutex mutex;
  std::vector<std::string> lines;
  RelayClient::LogFn fn() {
    return [this](const std::string& level, const std::string& text) {
      std::lock_guard lock(mutex);
      lines.push_back("[" + level + "] " + text);
    };
  }
  std::vector<std::string> snapshot() {
    std::lock_guard lock(mutex);
    return lines;
  }
  bool waitFor(size_t count, DWORD ms = 15000) {
    for (DWORD waited = 0; waited < ms; waited += 50) {
      if (snapshot().size() >= count) return true;
      Sleep(50);
    }
    return false;
  }
};

bool cursorNear(int x, int y) {
  for (int i = 0; i < 40; ++i) {
    POINT p{};
    GetCursorPos(&p);
    if (std::abs(p.x - x) < 3 && std::abs(p.y - y) < 3) return true;
    Sleep(50);
  }
  return false;
}

// A client that takes the relay's own process for the pipe's client, once
// the relay has connected.
struct TrustingClient : ::testing::Test {
  LogLines log;
  uint32_t relayPid = 0;
  RelayClient client{log.fn(), {[this](void*, uint32_t relay, uint32_t& pid) {
                       relayPid = relay;
                       pid = relay;
                       return true;
                     }}};

  void SetUp() override {
    client.start(0, 640, 400, 0, 0);
    ASSERT_TRUE(log.waitFor(1));
    ASSERT_TRUE(client.connected()) << log.snapshot().front();
  }
};

TEST(RelayClient, TheSystemsClientCheckAcceptsTheRelayButNotAClientItCannotTell) {
  // The system names the relay as the pipe's client.
  LogLines log;
  RelayClient client(log.fn());
  client.start(0, 640, 400, 0, 0);
  ASSERT_TRUE(log.waitFor(1));
  EXPECT_TRUE(client.connected());
  EXPECT_EQ(log.snapshot().front().rfind("[info] input: elevated relay ready (pid ", 0), 0u) << log.snapshot().front();
  client.stop();
  EXPECT_EQ(log.snapshot().size(), 1u);

  // An answer of "no process" is no proof the relay opened the pipe.
  LogLines refused;
  {
    RelayClient unsure(refused.fn(), {[](void*, uint32_t, uint32_t& pid) {
                         pid = 0;
                         return true;
                       }});
    unsure.start(0, 640, 400, 0, 0);
    ASSERT_TRUE(refused.waitFor(1));
    EXPECT_FALSE(unsure.connected());
    EXPECT_FALSE(unsure.forward(R"({"type":"move","x":0.5,"y":0.5})"));
  }
  EXPECT_EQ(refused.snapshot(),
            std::vector<std::string>{"[warn] input: an unexpected process opened the input pipe — relay not used"});
}

TEST_F(TrustingClient, RelayInjectsWhatIsForwardedAndItsExitIsNoticed) {
  EXPECT_EQ(log.snapshot().front(), "[info] input: elevated relay ready (pid " + std::to_string(relayPid) +
                                        ") — windows that run as administrator can be controlled");

  // Coordinates map onto the display line's rectangle.
  ASSERT_TRUE(client.forward(R"({"type":"move","x":0.25,"y":0.5})"));
  EXPECT_TRUE(cursorNear(160, 200));
  client.setDisplay(320, 200, 100, 50);
  // The host passes text unchanged; the relay drops what does not parse and
  // goes on with the next line.
  ASSERT_TRUE(client.forward(R"({"type":"move","x":0.9)"));
  // Raw line breaks inside the viewer's text must not split the line.
  ASSERT_TRUE(client.forward("{\"type\":\"move\",\r\n\"x\":0.5,\n\"y\":0.5}"));
  EXPECT_TRUE(cursorNear(260, 150));

  HANDLE relay = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, relayPid);
  ASSERT_TRUE(relay);
  TerminateProcess(relay, 7);
  WaitForSingleObject(relay, 5000);
  CloseHandle(relay);
  ASSERT_TRUE(log.waitFor(2));
  EXPECT_FALSE(client.forward(R"({"type":"move","x":0.1,"y":0.1})"));
  client.stop();
  EXPECT_EQ(log.snapshot(),
            (std::vector<std::string>{log.snapshot().front(),
                                      "[warn] input: elevated relay exited (code 7) — back to normal input; "
                                      "administrator windows cannot be controlled"}));
}

TEST_F(TrustingClient, StopEndsTheRelay) {
  HANDLE relay = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, relayPid);
  ASSERT_TRUE(relay);
  client.stop();
  client.stop();
  EXPECT_EQ(WaitForSingleObject(relay, 5000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(relay, &code);
  CloseHandle(relay);
  EXPECT_EQ(code, 0u) << "closing the pipe is a normal end";
  EXPECT_FALSE(client.connected());
  EXPECT_EQ(log.snapshot().size(), 1u) << "a stop logs nothing";
}

} // namespace
} // namespace dravnok::relay
