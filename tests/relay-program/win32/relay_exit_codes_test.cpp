// Runs the relay program itself and checks how it ends.
#include "common/win32/wide.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

std::wstring relayExe() {
  std::wstring path = dravnok::toWide(DRAVNOK_RELAY_EXE);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path.starts_with(L"\\") ? L"Z:" + path : path;
}

struct Process {
  PROCESS_INFORMATION info{};
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() {
    if (info.hProcess) {
      if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 99);
      CloseHandle(info.hProcess);
      CloseHandle(info.hThread);
    }
  }
  DWORD pid() const { return info.dwProcessId; }
  // The exit code, or STILL_ACTIVE when it did not end within `ms`.
  DWORD waitExit(DWORD ms) const {
    if (WaitForSingleObject(info.hProcess, ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info.hProcess, &code);
    return code;
  }
};

void startRelay(Process& p, const std::wstring& params) {
  const std::wstring exe = relayExe();
  std::wstring line = L"\"" + exe + L"\" " + params;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  ASSERT_TRUE(CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &p.info))
      << "cannot start " << dravnok::fromWide(exe) << " (" << GetLastError() << ")";
}

DWORD relayExitCode(const std::wstring& params, DWORD ms = 15000) {
  Process p;
  startRelay(p, params);
  return p.waitExit(ms);
}

std::wstring uniquePipe(const wchar_t* tag) {
  return L"\\\\.\\pipe\\dravnok-input-" + std::to_wstring(GetCurrentProcessId()) + L"-" + tag +
         std::to_wstring(GetTickCount64());
}

std::wstring self() { return std::to_wstring(GetCurrentProcessId()); }

struct Pipe {
  HANDLE h = INVALID_HANDLE_VALUE;
  explicit Pipe(const std::wstring& name) {
    h = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE,
                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 65536, 65536,
                         0, nullptr);
  }
  ~Pipe() { close(); }
  void close() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
  }
};

TEST(RelayExit, BadCommandLinesEndWithTwo) {
  const std::wstring pipe = uniquePipe(L"args");
  EXPECT_EQ(relayExitCode(L""), 2u);
  EXPECT_EQ(relayExitCode(L"--pipe \\\\.\\pipe\\other-input-1-00 --helper " + self()), 2u);
  EXPECT_EQ(relayExitCode(L"--pipe " + pipe + L" --helper 0"), 2u);
  EXPECT_EQ(relayExitCode(L"--pipe " + pipe + L" --helper abc"), 2u);
  EXPECT_EQ(relayExitCode(L"--helper " + self() + L" --pipe"), 2u);
}

TEST(RelayExit, HelperThatIsNotRunningEndsWithFive) {
  EXPECT_EQ(relayExitCode(L"--pipe " + uniquePipe(L"gone") + L" --helper 2000000000"), 5u);
}

TEST(RelayExit, MissingPipeEndsWithThreeAfterItsAttempts) {
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(relayExitCode(L"--pipe " + uniquePipe(L"none") + L" --helper " + self()), 3u);
  // 49 pauses of 100 ms between the 50 attempts.
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(4500));
}

TEST(RelayExit, PipeServedByAnotherProcessEndsWithFour) {
  // A relay that keeps retrying a missing pipe stands in for a live process
  // that is not the pipe's server.
  Process other;
  startRelay(other, L"--pipe " + uniquePipe(L"idle") + L" --helper " + self());
  const std::wstring name = uniquePipe(L"foreign");
  Pipe pipe(name);
  ASSERT_NE(pipe.h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(relayExitCode(L"--pipe " + name + L" --helper " + std::to_wstring(other.pid())), 4u);
}

TEST(RelayExit, EndsWithZeroWhenTheHostClosesThePipe) {
  const std::wstring name = uniquePipe(L"close");
  Pipe pipe(name);
  ASSERT_NE(pipe.h, INVALID_HANDLE_VALUE);
  Process relay;
  startRelay(relay, L"--pipe " + name + L" --helper " + self() + L" --agent 0");
  ASSERT_TRUE(ConnectNamedPipe(pipe.h, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED);
  const std::string lines = "{\"type\":\"_display\",\"w\":640,\"h\":480,\"l\":0,\"t\":0}\n\nnot json\n";
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(pipe.h, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr));
  Sleep(200);
  EXPECT_EQ(relay.waitExit(0), STILL_ACTIVE) << "bad lines do not end the relay";
  pipe.close();
  EXPECT_EQ(relay.waitExit(5000), 0u);
}

TEST(RelayExit, WatchdogEndsTheRelayAtOnceWhenTheHostDies) {
  Process host;
  startRelay(host, L"--pipe " + uniquePipe(L"host") + L" --helper " + self());
  Process relay;
  startRelay(relay, L"--pipe " + uniquePipe(L"orphan") + L" --helper " + std::to_wstring(host.pid()));
  Sleep(500);
  ASSERT_EQ(relay.waitExit(0), STILL_ACTIVE);
  TerminateProcess(host.info.hProcess, 1);
  // Without the watchdog it would go on retrying and end with 3 seconds later.
  EXPECT_EQ(relay.waitExit(1500), 0u);
}

} // namespace
