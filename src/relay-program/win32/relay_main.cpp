// dravnok-input-relay: started elevated by remote-helper, it reads the
// viewer's input events from the helper's pipe and injects them, so that
// windows of programs running as administrator can be controlled. It has no
// window and no log; the exit code is its only report.
#include "common/version.h"
#include "input/input_injector.h"
#include "relay-program/relay_arguments.h"
#include "relay-program/relay_lines.h"

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {

using dravnok::relay_program::RelayArguments;

enum ExitCode : int {
  kNormalEnd = 0,
  kBadCommandLine = 2,
  kPipeNotOpened = 3,
  kWrongPipeServer = 4,
  kHelperNotOpened = 5,
};

constexpr int kOpenAttempts = 50;

bool splitCommandLine(std::vector<std::u16string>& args) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return false;
  for (int i = 0; i < count; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  LocalFree(argv);
  return true;
}

HANDLE openPipe(const std::wstring& name) {
  for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
    HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) return pipe;
    if (attempt == kOpenAttempts) break;
    if (GetLastError() == ERROR_PIPE_BUSY) {
      WaitNamedPipeW(name.c_str(), 200);
    } else {
      Sleep(100);
    }
  }
  return INVALID_HANDLE_VALUE;
}

void readLoop(HANDLE pipe, dravnok::InputInjector& injector) {
  dravnok::relay_program::LineAccumulator lines;
  char buffer[dravnok::relay_program::kReadSize];
  const auto onLine = [&injector](std::string_view line) { dravnok::relay_program::handleRelayLine(injector, line); };
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(pipe, buffer, sizeof(buffer), &got, nullptr) || got == 0) return;
    lines.append(std::span<const char>(buffer, got), onLine);
  }
}

// A windowless program has no console of its own: the text goes to the
// standard output it was given, else to the console it was started from.
void printVersion() {
  const std::string text = "dravnok-input-relay " + dravnok::versionText() + "\n";
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE console = INVALID_HANDLE_VALUE;
  if ((!out || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
    console = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    out = console;
  }
  DWORD written = 0;
  if (out && out != INVALID_HANDLE_VALUE)
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  if (console != INVALID_HANDLE_VALUE) CloseHandle(console);
}

int runRelay() {
  // Input injection wants this thread to have a message queue.
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);

  std::vector<std::u16string> argv;
  if (!splitCommandLine(argv)) return kBadCommandLine;
  if (std::find(argv.begin(), argv.end(), u"--version") != argv.end()) {
    printVersion();
    return kNormalEnd;
  }
  const RelayArguments args = dravnok::relay_program::parseRelayArguments(argv);
  if (!dravnok::relay_program::argumentsUsable(args)) return kBadCommandLine;

  HANDLE helper = OpenProcess(SYNCHRONIZE, FALSE, args.helperPid);
  if (!helper) return kHelperNotOpened;

  // The relay must never outlive the helper, not even in the middle of a
  // read or an injection; the handle stays open until the process ends.
  std::thread([helper] {
    WaitForSingleObject(helper, INFINITE);
    ExitProcess(kNormalEnd);
  }).detach();

  const std::wstring pipeName(args.pipe.begin(), args.pipe.end());
  HANDLE pipe = openPipe(pipeName);
  if (pipe == INVALID_HANDLE_VALUE) return kPipeNotOpened;

  // Only the helper's own pipe may drive this elevated process.
  ULONG server = 0;
  if (!GetNamedPipeServerProcessId(pipe, &server) || server != args.helperPid) {
    CloseHandle(pipe);
    return kWrongPipeServer;
  }

  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  {
    dravnok::InputInjector injector(false, 1, 1, 0, 0, args.agentPid);
    injector.setHelperPid(args.helperPid);
    readLoop(pipe, injector);
  }
  CloseHandle(pipe);
  if (com) CoUninitialize();
  return kNormalEnd;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return runRelay(); }
