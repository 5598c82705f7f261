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
  // The lines once there are `count` of them, or what there is after 15 s.
  std::vector<std::string> await(size_t count) {
    for (int waited = 0; waited < 15000 && snapshot().size() < count; waited += 50) Sleep(50);
    return snapshot();
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

// The relay's process, by the id in the client's first line, which must be
// the one that says the relay is ready.
HANDLE relayProcess(const std::vector<std::string>& log, DWORD access) {
  const std::string ready = "[info] input: elevated relay ready (pid ";
  if (log.empty() || log[0].rfind(ready, 0) != 0) return nullptr;
  return OpenProcess(access, FALSE, std::stoul(log[0].substr(ready.size())));
}

TEST(RelayClient, TheRelayInjectsWhatIsForwardedAndEndsWithTheClientAndItsEndIsNoticed) {
  LogLines log;
  RelayClient client(log.fn());
  client.start(0, 640, 400, 0, 0);
  HANDLE relay = relayProcess(log.await(1), SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION);
  ASSERT_TRUE(relay && client.connected()) << ::testing::PrintToString(log.snapshot());
  // Coordinates map onto the display line's rectangle.
  ASSERT_TRUE(client.forward(R"({"type":"move","x":0.25,"y":0.5})"));
  EXPECT_TRUE(cursorNear(160, 200));
  client.setDisplay(320, 200, 100, 50);
  // The host passes text unchanged; the relay drops what does not parse and
  // goes on with the next line. Raw line breaks must not split a line.
  ASSERT_TRUE(client.forward(R"({"type":"move","x":0.9)"));
  ASSERT_TRUE(client.forward("{\"type\":\"move\",\r\n\"x\":0.5,\n\"y\":0.5}"));
  EXPECT_TRUE(cursorNear(260, 150));
  client.stop();
  client.stop();
  DWORD code = 99;
  EXPECT_EQ(WaitForSingleObject(relay, 5000), WAIT_OBJECT_0);
  GetExitCodeProcess(relay, &code);
  CloseHandle(relay);
  EXPECT_EQ(code, 0u) << "closing the pipe is a normal end";
  EXPECT_FALSE(client.forward(R"({"type":"move","x":0.1,"y":0.1})"));
  EXPECT_EQ(log.snapshot().size(), 1u) << "a stop logs nothing";

  // A relay that ends by itself is noticed.
  LogLines ended;
  RelayClient second(ended.fn());
  second.start(0, 640, 400, 0, 0);
  relay = relayProcess(ended.await(1), PROCESS_TERMINATE | SYNCHRONIZE);
  ASSERT_TRUE(relay);
  TerminateProcess(relay, 7);
  CloseHandle(relay);
  EXPECT_EQ(ended.await(2).at(1), "[warn] input: elevated relay exited (code 7) — back to normal input; administrator "
                                  "windows cannot be controlled");
  EXPECT_FALSE(second.forward(R"({"type":"move","x":0.1,"y":0.1})"));

  // An answer of "no process" is no proof the relay opened the pipe.
  LogLines refused;
  RelayClient unsure(refused.fn(), {[](void*, uint32_t, uint32_t& pid) {
                       pid = 0;
                       return true;
                     }});
  unsure.start(0, 640, 400, 0, 0);
  EXPECT_EQ(refused.await(1),
            std::vector<std::string>{"[warn] input: an unexpected process opened the input pipe — relay not used"});
  EXPECT_FALSE(unsure.forward(R"({"type":"move","x":0.5,"y":0.5})"));
}

} // namespace
} // namespace dravnok::relay
