#include "agent/user_jwt.h"

#include "agent/text_codec.h"

#include <nlohmann/json.hpp>
#include <openssl/sha.h>

namespace dravnok::agent {

std::string mintUserJwt(const Nkey& signer, std::string_view accountPublic, const Nkey& user, std::string_view name,
                        int64_t issuedAt) {
  nlohmann::json claims = {
      {"iat", issuedAt},
      {"iss", signer.publicText()},
      {"name", name},
      {"sub", user.publicText()},
      {"nats", {{"issuer_account", accountPublic}, {"type", "user"}, {"version", 2}}},
  };
  std::string unique = claims.dump();
  uint8_t digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(unique.data()), unique.size(), digest);
  claims["jti"] = base32Encode(digest);
  std::string signedPart =
      base64UrlEncode(bytesOf(R"({"typ":"JWT","alg":"ed25519-nkey"})")) + "." + base64UrlEncode(bytesOf(claims.dump()));
  return signedPart + "." + base64UrlEncode(bytesOf(signer.sign(bytesOf(signedPart))));
}

} // namespace dravnok::agent
