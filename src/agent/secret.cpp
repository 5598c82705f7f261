#include "agent/secret.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <stdexcept>
#include <vector>

namespace dravnok::agent {

bool secretsEqual(std::string_view expected, std::string_view offered) {
  if (expected.empty() || expected.size() != offered.size()) return false;
  return CRYPTO_memcmp(expected.data(), offered.data(), expected.size()) == 0;
}

std::string randomHex(size_t bytes) {
  std::vector<unsigned char> random(bytes);
  if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1)
    throw std::runtime_error("no random numbers from the system");
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : random) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

} // namespace dravnok::agent
