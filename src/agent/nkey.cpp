#include "agent/nkey.h"

#include "agent/text_codec.h"

#include <stdexcept>
#include <vector>

namespace dravnok::agent {
namespace {

constexpr uint8_t kSeedPrefix = 18 << 3;

std::string withChecksum(std::vector<uint8_t> bytes) {
  uint16_t crc = crc16Xmodem(bytes);
  bytes.push_back(static_cast<uint8_t>(crc & 0xff));
  bytes.push_back(static_cast<uint8_t>(crc >> 8));
  return base32Encode(bytes);
}

// The bytes before the checksum, when the text decodes and its checksum holds.
std::optional<std::vector<uint8_t>> checkedBytes(std::string_view text, size_t length) {
  auto bytes = base32Decode(text);
  if (!bytes || bytes->size() != length + 2) return std::nullopt;
  uint16_t crc = static_cast<uint16_t>((*bytes)[length] | ((*bytes)[length + 1] << 8));
  bytes->resize(length);
  if (crc16Xmodem(*bytes) != crc) return std::nullopt;
  return bytes;
}

bool knownKind(uint8_t prefix) {
  return prefix == uint8_t(NkeyKind::Account) || prefix == uint8_t(NkeyKind::Operator) ||
         prefix == uint8_t(NkeyKind::User);
}

} // namespace

uint16_t crc16Xmodem(std::span<const uint8_t> bytes) {
  uint16_t crc = 0;
  for (uint8_t byte : bytes) {
    crc ^= static_cast<uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

bool isPublicNkey(std::string_view text, NkeyKind kind) {
  auto bytes = checkedBytes(text, 33);
  return bytes && (*bytes)[0] == uint8_t(kind);
}

Nkey::Nkey(NkeyKind kind, std::span<const uint8_t, 32> seed) : kind_(kind) {
  std::copy(seed.begin(), seed.end(), seed_.begin());
  key_.reset(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed_.data(), seed_.size()), EVP_PKEY_free);
  std::vector<uint8_t> bytes(33);
  size_t length = 32;
  if (!key_ || EVP_PKEY_get_raw_public_key(key_.get(), bytes.data() + 1, &length) != 1 || length != 32)
    throw std::runtime_error("cannot make an Ed25519 key");
  bytes[0] = uint8_t(kind);
  public_ = withChecksum(std::move(bytes));
}

std::optional<Nkey> Nkey::fromSeedText(std::string_view text) {
  auto bytes = checkedBytes(text, 34);
  if (!bytes || ((*bytes)[0] & 0xf8) != kSeedPrefix) return std::nullopt;
  uint8_t kind = static_cast<uint8_t>((((*bytes)[0] & 7) << 5) | ((*bytes)[1] >> 3));
  if (!knownKind(kind) || ((*bytes)[1] & 7) != 0) return std::nullopt;
  return Nkey(NkeyKind(kind), std::span<const uint8_t, 32>(bytes->data() + 2, 32));
}

std::string Nkey::seedText() const {
  uint8_t kind = uint8_t(kind_);
  std::vector<uint8_t> bytes{static_cast<uint8_t>(kSeedPrefix | (kind >> 5)), static_cast<uint8_t>((kind & 31) << 3)};
  bytes.insert(bytes.end(), seed_.begin(), seed_.end());
  return withChecksum(std::move(bytes));
}

std::string Nkey::sign(std::span<const uint8_t> message) const {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  std::string signature(64, '\0');
  size_t length = signature.size();
  if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
      EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length, message.data(),
                     message.size()) != 1 ||
      length != 64)
    throw std::runtime_error("cannot sign with an Ed25519 key");
  return signature;
}

} // namespace dravnok::agent
