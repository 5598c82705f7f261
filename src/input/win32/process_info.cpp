#include "input/process_info.h"

#include <windows.h>

#include <memory>
#include <vector>

namespace dravnok {
namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const {
    if (handle) CloseHandle(handle);
  }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

UniqueHandle openForQuery(uint32_t pid) {
  return UniqueHandle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
}

} // namespace

int32_t integrityLevel(uint32_t pid) {
  UniqueHandle process = openForQuery(pid);
  if (!process) return -1;
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(process.get(), TOKEN_QUERY, &rawToken)) return -1;
  UniqueHandle token(rawToken);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size);
  if (size < sizeof(TOKEN_MANDATORY_LABEL)) return -1;
  std::vector<unsigned char> buffer(size);
  if (!GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.data(), size, &size)) return -1;
  PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer.data())->Label.Sid;
  if (!sid || !IsValidSid(sid)) return -1;
  UCHAR count = *GetSidSubAuthorityCount(sid);
  if (count == 0) return -1;
  return static_cast<int32_t>(*GetSidSubAuthority(sid, count - 1));
}

std::u16string processImageName(uint32_t pid) {
  UniqueHandle process = openForQuery(pid);
  if (!process) return {};
  wchar_t path[520];
  DWORD length = 520;
  if (!QueryFullProcessImageNameW(process.get(), 0, path, &length)) return {};
  std::u16string full(reinterpret_cast<const char16_t*>(path), length);
  size_t slash = full.find_last_of(u"\\/");
  return slash == std::u16string::npos ? full : full.substr(slash + 1);
}

bool foregroundIsElevated(uint32_t& pid) {
  pid = 0;
  HWND window = GetForegroundWindow();
  if (!window) return false;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  pid = owner;
  if (pid == 0 || pid == GetCurrentProcessId()) return false;
  // Read once per process; a function-local static is a thread-safe init.
  static const int32_t ownLevel = integrityLevel(GetCurrentProcessId());
  return ownLevel >= 1 && integrityLevel(pid) > ownLevel;
}

} // namespace dravnok
