#pragma once
// What the host writes to the relay's pipe, and the names it uses to find it.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace dravnok::relay {

// Every pipe name starts with this; the relay refuses any other.
inline constexpr std::string_view kPipePrefix = R"(\\.\pipe\dravnok-input-)";
inline constexpr std::string_view kRelayProgramFile = "dravnok-input-relay.exe";

using NonceBytes = std::array<uint8_t, 16>;

// 32 lowercase hexadecimal digits.
std::string nonceHex(const NonceBytes& bytes);
// Stand-in bytes from a performance-counter value, for when the system's
// random source fails.
NonceBytes nonceFromCounter(uint64_t counter);
// The prefix, the host's process id, '-', the nonce.
std::string pipeName(uint32_t hostPid, std::string_view nonce);

// The relay's parameters: --pipe NAME --helper HOSTPID --agent AGENTPID.
std::string relayParameters(std::string_view pipe, uint32_t hostPid, uint32_t agentPid);

// {"type":"_display","w":W,"h":H,"l":L,"t":T}, width and height raised to 1.
std::string displayMessage(int32_t width, int32_t height, int32_t left, int32_t top);

// The viewer's text as one pipe line: a raw line feed would end the line
// early and split one event into two broken ones. Outside JSON strings these
// bytes are only whitespace, and inside them they are not allowed at all.
std::string pipeLine(std::string_view text);

} // namespace dravnok::relay
