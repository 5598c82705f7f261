#pragma once
// The broker's identities: Ed25519 key pairs written as nkeys, base32 of a
// prefix byte that names the kind ('U' user, 'A' account, 'O' operator; seeds
// start with 'S' and then the kind), the key, and a CRC-16/XMODEM.
#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace dravnok::agent {

enum class NkeyKind : uint8_t { Account = 0, Operator = 14 << 3, User = 20 << 3 };

uint16_t crc16Xmodem(std::span<const uint8_t> bytes);

// True for the public text of a key of this kind, checksum included.
bool isPublicNkey(std::string_view text, NkeyKind kind);

class Nkey {
public:
  // Throws std::runtime_error when OpenSSL cannot make the key.
  Nkey(NkeyKind kind, std::span<const uint8_t, 32> seed);
  // A seed text ("SU...", "SA..."); nothing when it is not one.
  static std::optional<Nkey> fromSeedText(std::string_view text);

  NkeyKind kind() const { return kind_; }
  const std::string& publicText() const { return public_; }
  std::string seedText() const;
  // The 64-byte Ed25519 signature of `message`.
  std::string sign(std::span<const uint8_t> message) const;

private:
  NkeyKind kind_;
  std::array<uint8_t, 32> seed_;
  std::shared_ptr<EVP_PKEY> key_;
  std::string public_;
};

} // namespace dravnok::agent
