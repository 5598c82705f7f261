#pragma once
// The named pipe the elevated relay reads: made by the host, written only by
// it, and open to no one but the system and the signed-in user.
#include <windows.h>

#include <string>
#include <string_view>

namespace dravnok::relay {

// Outbound only; one instance, which must be the first of its name, so that
// a process that made the name ready beforehand makes the creation fail; no
// clients from other computers.
inline constexpr DWORD kRelayPipeOpenMode = PIPE_ACCESS_OUTBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED;
inline constexpr DWORD kRelayPipeMode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
inline constexpr DWORD kRelayPipeBufferBytes = 65536;

// This process's user as a SID string; empty when it cannot be read.
std::wstring currentUserSid();

// The server end, or INVALID_HANDLE_VALUE and what failed, with the system's
// error code: "pipe security failed (N)" or "pipe create failed (N)".
HANDLE createRelayPipe(const std::wstring& name, std::wstring_view userSid, std::string& failure);

} // namespace dravnok::relay
