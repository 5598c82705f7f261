#include "host/platform.h"

#include "common/win32/wide.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <mfapi.h>
#include <objbase.h>
#include <share.h>
#include <shellapi.h>
#include <tlhelp32.h>

namespace dravnok::host {

RuntimeStart startPlatformRuntime() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return RuntimeStart::ComFailed;
  if (FAILED(MFStartup(MF_VERSION, MFSTARTUP_FULL))) {
    CoUninitialize();
    return RuntimeStart::MediaFoundationFailed;
  }
  return RuntimeStart::Ok;
}

void stopPlatformRuntime() {
  MFShutdown();
  CoUninitialize();
}

void prepareStandardStreams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

std::vector<std::string> commandLineArguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 1; i < count; ++i) args.push_back(fromWide(wide[i]));
  LocalFree(wide);
  return args;
}

std::string executablePath() {
  wchar_t buffer[260] = {};
  DWORD length = GetModuleFileNameW(nullptr, buffer, 260);
  return length ? fromWide(buffer) : std::string();
}

std::FILE* openSharedForAppend(const std::string& path) { return _wfsopen(toWide(path).c_str(), L"ab", _SH_DENYNO); }

uint32_t findParentPid() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  uint32_t parent = 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self) {
      parent = entry.th32ParentProcessID;
      break;
    }
  }
  CloseHandle(snapshot);
  return parent;
}

} // namespace dravnok::host
