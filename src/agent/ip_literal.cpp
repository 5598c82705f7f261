#include "agent/ip_literal.h"

// inet_pton is the one socket call here; only its header differs.
#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

namespace dravnok::agent {

std::string ipLiteralBytes(std::string_view text) {
  std::string literal(text);
  unsigned char bytes[16];
  if (inet_pton(AF_INET, literal.c_str(), bytes) == 1) return std::string(reinterpret_cast<char*>(bytes), 4);
  if (inet_pton(AF_INET6, literal.c_str(), bytes) == 1) return std::string(reinterpret_cast<char*>(bytes), 16);
  return {};
}

} // namespace dravnok::agent
