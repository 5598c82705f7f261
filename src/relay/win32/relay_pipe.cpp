#include "relay/win32/relay_pipe.h"

#include <sddl.h>

#include <vector>

namespace dravnok::relay {

std::wstring currentUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  std::wstring sid;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    LPWSTR text = nullptr;
    if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
      sid = text;
      LocalFree(text);
    }
  }
  CloseHandle(token);
  return sid;
}

HANDLE createRelayPipe(const std::wstring& name, std::wstring_view userSid, std::string& failure) {
  // A protected DACL: generic-all for Local System and the user, nothing
  // inherited and nothing for anyone else.
  const std::wstring sddl = L"D:P(A;;GA;;;SY)(A;;GA;;;" + std::wstring(userSid) + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    failure = "pipe security failed (" + std::to_string(GetLastError()) + ")";
    return INVALID_HANDLE_VALUE;
  }
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
  HANDLE pipe = CreateNamedPipeW(name.c_str(), kRelayPipeOpenMode, kRelayPipeMode, 1, kRelayPipeBufferBytes,
                                 kRelayPipeBufferBytes, 0, &security);
  const DWORD error = GetLastError();
  LocalFree(descriptor);
  if (pipe == INVALID_HANDLE_VALUE) failure = "pipe create failed (" + std::to_string(error) + ")";
  return pipe;
}

} // namespace dravnok::relay
