#pragma once
// The sealed form of every broker message between the page and the agent:
//
//   version (1) | direction (1) | sid (16) | seq (8, big-endian) | AES-256-GCM ciphertext and tag (16)
//
// The 26 header bytes are the additional data; the nonce is the direction
// byte, three zero bytes and seq. Keys are per session and direction, so a
// (key, nonce) pair is never used twice.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dravnok::agent {

inline constexpr uint8_t kEnvelopeVersion = 1;
inline constexpr size_t kEnvelopeHeaderBytes = 26;
inline constexpr size_t kEnvelopeTagBytes = 16;
// The broker's payload limit: anything longer is dropped unread.
inline constexpr size_t kMaxEnvelopeBytes = 65536;

enum class Direction : uint8_t { ViewerToHost = 1, HostToViewer = 2 };

using SessionId = std::array<uint8_t, 16>;
using SessionKey = std::array<uint8_t, 32>;

struct EnvelopeHeader {
  SessionId sid;
  uint64_t seq;
};

// The header of a message sealed for `direction`, checked for size and form
// only; nothing is decrypted.
std::optional<EnvelopeHeader> readEnvelopeHeader(std::span<const uint8_t> message, Direction direction);

std::vector<uint8_t> sealEnvelope(const SessionKey& key, Direction direction, const SessionId& sid, uint64_t seq,
                                  std::string_view plaintext);
// The plaintext when `message` (whose header was read) is authentic under `key`.
std::optional<std::string> openEnvelope(const SessionKey& key, std::span<const uint8_t> message);

} // namespace dravnok::agent
