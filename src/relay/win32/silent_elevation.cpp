#include "relay/silent_elevation.h"

#include <windows.h>

namespace dravnok::relay {

namespace {

std::optional<uint32_t> readPolicyDword(const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  const LSTATUS status =
      RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", name,
                   RRF_RT_REG_DWORD, nullptr, &value, &size);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return value;
}

} // namespace

bool canElevateSilently(std::string& reason) {
  ElevationFacts facts;
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    facts.tokenOpened = true;
    TOKEN_ELEVATION_TYPE type{};
    DWORD size = 0;
    if (GetTokenInformation(token, TokenElevationType, &type, sizeof(type), &size)) {
      facts.typeRead = true;
      facts.type = type == TokenElevationTypeFull      ? ElevationType::Full
                   : type == TokenElevationTypeLimited ? ElevationType::Limited
                                                       : ElevationType::Default;
    }
    CloseHandle(token);
  }
  if (facts.typeRead && facts.type == ElevationType::Limited) {
    facts.enableLua = readPolicyDword(L"EnableLUA");
    facts.consentPromptBehaviorAdmin = readPolicyDword(L"ConsentPromptBehaviorAdmin");
  }
  return decideSilentElevation(facts, reason);
}

} // namespace dravnok::relay
