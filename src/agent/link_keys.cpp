#include "agent/link_keys.h"

#include "agent/text_codec.h"

#include <openssl/kdf.h>
#include <openssl/rand.h>

#include <memory>
#include <stdexcept>

namespace dravnok::agent {
namespace {

std::array<uint8_t, 32> hkdf(const LinkSecret& secret, std::span<const uint8_t> info) {
  static constexpr std::string_view kSalt = "dravnok link v1";
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr),
                                                                      EVP_PKEY_CTX_free);
  std::array<uint8_t, 32> out;
  size_t length = out.size();
  if (!context || EVP_PKEY_derive_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_hkdf_md(context.get(), EVP_sha256()) != 1 ||
      EVP_PKEY_CTX_set1_hkdf_salt(context.get(), bytesOf(kSalt).data(), static_cast<int>(kSalt.size())) != 1 ||
      EVP_PKEY_CTX_set1_hkdf_key(context.get(), secret.data(), static_cast<int>(secret.size())) != 1 ||
      EVP_PKEY_CTX_add1_hkdf_info(context.get(), info.data(), static_cast<int>(info.size())) != 1 ||
      EVP_PKEY_derive(context.get(), out.data(), &length) != 1 || length != out.size())
    throw std::runtime_error("cannot derive a key");
  return out;
}

} // namespace

LinkSecret makeLinkSecret() {
  LinkSecret secret;
  if (RAND_bytes(secret.data(), static_cast<int>(secret.size())) != 1)
    throw std::runtime_error("no random numbers from the system");
  return secret;
}

std::array<uint8_t, 32> hostSeed(const LinkSecret& secret) { return hkdf(secret, bytesOf("dravnok host nkey")); }

SessionKey sessionKey(const LinkSecret& secret, Direction direction, const SessionId& sid) {
  std::string info = direction == Direction::ViewerToHost ? "dravnok v2h" : "dravnok h2v";
  info.append(sid.begin(), sid.end());
  return hkdf(secret, bytesOf(info));
}

std::string supportLink(std::string_view page, const LinkSecret& secret) {
  return std::string(page) + "#k=" + base64UrlEncode(secret);
}

} // namespace dravnok::agent
