#include "agent/envelope.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace dravnok::agent {
namespace {

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

std::array<uint8_t, 12> nonceOf(std::span<const uint8_t> header) {
  std::array<uint8_t, 12> nonce{};
  nonce[0] = header[1];
  std::copy(header.begin() + 18, header.begin() + 26, nonce.begin() + 4);
  return nonce;
}

} // namespace

std::optional<EnvelopeHeader> readEnvelopeHeader(std::span<const uint8_t> message, Direction direction) {
  if (message.size() < kEnvelopeHeaderBytes + kEnvelopeTagBytes || message.size() > kMaxEnvelopeBytes ||
      message[0] != kEnvelopeVersion || message[1] != uint8_t(direction))
    return std::nullopt;
  EnvelopeHeader header{};
  std::copy(message.begin() + 2, message.begin() + 18, header.sid.begin());
  for (size_t i = 18; i < 26; ++i) header.seq = (header.seq << 8) | message[i];
  return header;
}

std::vector<uint8_t> sealEnvelope(const SessionKey& key, Direction direction, const SessionId& sid, uint64_t seq,
                                  std::string_view plaintext) {
  std::vector<uint8_t> message(kEnvelopeHeaderBytes + plaintext.size() + kEnvelopeTagBytes);
  message[0] = kEnvelopeVersion;
  message[1] = uint8_t(direction);
  std::copy(sid.begin(), sid.end(), message.begin() + 2);
  for (int i = 0; i < 8; ++i) message[18 + i] = static_cast<uint8_t>(seq >> (56 - 8 * i));
  auto nonce = nonceOf(message);
  CipherContext context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  int length = 0;
  uint8_t* out = message.data() + kEnvelopeHeaderBytes;
  if (!context || EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce.data()) != 1 ||
      EVP_EncryptUpdate(context.get(), nullptr, &length, message.data(), kEnvelopeHeaderBytes) != 1 ||
      EVP_EncryptUpdate(context.get(), out, &length, reinterpret_cast<const uint8_t*>(plaintext.data()),
                        static_cast<int>(plaintext.size())) != 1 ||
      EVP_EncryptFinal_ex(context.get(), out + length, &length) != 1 ||
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, kEnvelopeTagBytes, out + plaintext.size()) != 1)
    throw std::runtime_error("cannot seal a message");
  return message;
}

std::optional<std::string> openEnvelope(const SessionKey& key, std::span<const uint8_t> message) {
  if (message.size() < kEnvelopeHeaderBytes + kEnvelopeTagBytes) return std::nullopt;
  auto nonce = nonceOf(message);
  size_t textBytes = message.size() - kEnvelopeHeaderBytes - kEnvelopeTagBytes;
  std::string plaintext(textBytes, '\0');
  auto* out = reinterpret_cast<uint8_t*>(plaintext.data());
  std::array<uint8_t, kEnvelopeTagBytes> tag;
  std::copy(message.end() - kEnvelopeTagBytes, message.end(), tag.begin());
  CipherContext context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  int length = 0;
  if (!context || EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce.data()) != 1 ||
      EVP_DecryptUpdate(context.get(), nullptr, &length, message.data(), kEnvelopeHeaderBytes) != 1 ||
      EVP_DecryptUpdate(context.get(), out, &length, message.data() + kEnvelopeHeaderBytes,
                        static_cast<int>(textBytes)) != 1 ||
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, kEnvelopeTagBytes, tag.data()) != 1 ||
      EVP_DecryptFinal_ex(context.get(), out + length, &length) != 1)
    return std::nullopt;
  return plaintext;
}

} // namespace dravnok::agent
