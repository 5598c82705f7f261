// Runs the relay program itself and checks how it ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

struct Process {
  PROCESS_INFORMATION info{};
  // The relay beside this test binary, where the search for a bare name starts.
  explicit Process(const std::wstring& params) {
    std::wstring line = L"dravnok-input-relay.exe " + params;
    STARTUPINFOW si{sizeof(si)};
    EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info))
        << "cannot start the relay (" << GetLastError() << ")";
  }
  ~Process() {
    if (!info.hProcess) return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  // The exit code, or STILL_ACTIVE when it did not end within `ms`.
  DWORD waitExit(DWORD ms) const {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(info.hProcess, ms) == WAIT_OBJECT_0) GetExitCodeProcess(info.hProcess, &code);
    return code;
  }
};

std::wstring uniquePipe(const wchar_t* tag) {
  return L"\\\\.\\pipe\\dravnok-input-" + std::to_wstring(GetCurrentProcessId()) + L"-" + tag +
         std::to_wstring(GetTickCount64());
}

// The relay's exit code for these parameters and a helper of this process id.
DWORD relayExitCode(const std::wstring& params, DWORD helper = GetCurrentProcessId()) {
  return Process(params + L" --helper " + std::to_wstring(helper)).waitExit(15000);
}

TEST(RelayExit, EachFailureHasItsCodeAndTheRelayEndsAtOnceWithTheHost) {
  EXPECT_EQ(relayExitCode(L"--pipe \\\\.\\pipe\\other-input-1-00"), 2u);
  EXPECT_EQ(relayExitCode(L"--pipe " + uniquePipe(L"gone"), 2000000000), 5u);
  // 49 pauses of 100 ms between the 50 attempts.
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(relayExitCode(L"--pipe " + uniquePipe(L"none")), 3u);
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(4500));

  // A relay that keeps retrying a missing pipe stands in for a live process
  // that is not the pipe's server.
  Process other(L"--pipe " + uniquePipe(L"idle") + L" --helper " + std::to_wstring(GetCurrentProcessId()));
  const std::wstring name = uniquePipe(L"foreign");
  HANDLE pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 65536, 65536, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  EXPECT_EQ(relayExitCode(L"--pipe " + name, other.info.dwProcessId), 4u);
  CloseHandle(pipe);

  // The watchdog ends the relay at once when the host dies.
  Process host(L"--pipe " + uniquePipe(L"host") + L" --helper " + std::to_wstring(GetCurrentProcessId()));
  Process relay(L"--pipe " + uniquePipe(L"orphan") + L" --helper " + std::to_wstring(host.info.dwProcessId));
  Sleep(500);
  ASSERT_EQ(relay.waitExit(0), STILL_ACTIVE);
  TerminateProcess(host.info.hProcess, 1);
  // Without the watchdog it would go on retrying and end with 3 seconds later.
  EXPECT_EQ(relay.waitExit(1500), 0u);
}

} // namespace
