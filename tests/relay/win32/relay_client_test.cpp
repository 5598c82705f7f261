// The client against the real relay program, started with "runas" from
// beside this test binary. The relay injects into the test's desktop.
#include "relay/relay_client.h"
#include "relay/win32/relay_pipe.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
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

  // A relay that stops reading is given up after one write time-out, once;
  // its end is still noticed.
  LogLines ended;
  RelayClient second(ended.fn());
  second.start(0, 640, 400, 0, 0);
  relay = relayProcess(ended.await(1), PROCESS_TERMINATE | PROCESS_SUSPEND_RESUME | SYNCHRONIZE);
  ASSERT_TRUE(relay);
  const auto suspend = reinterpret_cast<LONG(NTAPI*)(HANDLE)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSuspendProcess")));
  ASSERT_EQ(suspend(relay), 0);
  const auto begin = std::chrono::steady_clock::now();
  // More than the pipe holds.
  EXPECT_FALSE(second.forward(R"({"type":"text","text":")" + std::string(131072, 'x') + R"("})"));
  const auto waited = std::chrono::steady_clock::now() - begin;
  EXPECT_TRUE(waited > std::chrono::milliseconds(1900) && waited < std::chrono::seconds(5)) << waited.count();
  EXPECT_FALSE(second.forward(R"({"type":"move","x":0.1,"y":0.1})"));
  TerminateProcess(relay, 7);
  CloseHandle(relay);
  EXPECT_EQ(ended.await(3).at(1), "[warn] input: lost the elevated relay — back to normal input");
  EXPECT_EQ(ended.snapshot().at(2),
            "[warn] input: elevated relay exited (code 7) — back to normal input; administrator "
            "windows cannot be controlled");

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

// Wine enforces neither the descriptor nor the first-instance rule and has
// no remote clients: the descriptor is read back as text, and those two
// rules from the modes the pipe is made with.
TEST(RelayPipe, OnlyTheSystemAndTheUserMayOpenItOnceAndOnlyToRead) {
  const std::wstring sid = currentUserSid();
  const std::wstring name = L"\\\\.\\pipe\\dravnok-input-test-" + std::to_wstring(GetCurrentProcessId());
  std::string failure;
  using Handle = std::unique_ptr<void, decltype(&CloseHandle)>;
  const Handle pipe(createRelayPipe(name, sid, failure), &CloseHandle);
  ASSERT_NE(pipe.get(), INVALID_HANDLE_VALUE) << failure;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  LPWSTR text = nullptr;
  ASSERT_FALSE(GetSecurityInfo(pipe.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                               nullptr, &descriptor));
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                   DACL_SECURITY_INFORMATION, &text, nullptr));
  const std::wstring dacl = text;
  LocalFree(text);
  LocalFree(descriptor);
  // Windows stores generic-all as the pipe's own full rights.
  const std::wstring generic = L"D:P(A;;GA;;;SY)(A;;GA;;;" + sid + L")",
                     full = L"D:P(A;;FA;;;SY)(A;;FA;;;" + sid + L")";
  EXPECT_EQ(dacl, dacl == full ? full : generic);
  EXPECT_TRUE((kRelayPipeOpenMode & FILE_FLAG_FIRST_PIPE_INSTANCE) && (kRelayPipeMode & PIPE_REJECT_REMOTE_CLIENTS));

  EXPECT_EQ(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  const Handle client(CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), &CloseHandle);
  DWORD flags = 99, out = 0, in = 0, instances = 0;
  ASSERT_TRUE(GetNamedPipeInfo(client.get(), &flags, &out, &in, &instances));
  // A byte stream of one instance, seen from the client's end.
  EXPECT_EQ((std::vector<DWORD>{flags, out, in, instances}),
            (std::vector<DWORD>{PIPE_CLIENT_END | PIPE_TYPE_BYTE, 65536, 65536, 1}));
}

} // namespace
} // namespace dravnok::relay
