#include "relay/pipe_format.h"

#include <algorithm>

namespace dravnok::relay {

std::string nonceHex(const NonceBytes& bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 0x0F]);
  }
  return hex;
}

NonceBytes nonceFromCounter(uint64_t counter) {
  NonceBytes bytes{};
  for (unsigned i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>((counter >> (8 * (i % 8))) ^ (131u * i));
  }
  return bytes;
}

std::string pipeName(uint32_t hostPid, std::string_view nonce) {
  std::string name(kPipePrefix);
  name += std::to_string(hostPid);
  name += '-';
  name += nonce;
  return name;
}

std::string relayParameters(std::string_view pipe, uint32_t hostPid, uint32_t agentPid) {
  std::string params = "--pipe ";
  params += pipe;
  params += " --helper " + std::to_string(hostPid);
  params += " --agent " + std::to_string(agentPid);
  return params;
}

std::string displayMessage(int32_t width, int32_t height, int32_t left, int32_t top) {
  return R"({"type":"_display","w":)" + std::to_string(std::max<int32_t>(width, 1)) + R"(,"h":)" +
         std::to_string(std::max<int32_t>(height, 1)) + R"(,"l":)" + std::to_string(left) + R"(,"t":)" +
         std::to_string(top) + "}";
}

std::string pipeLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (char c : text) {
    if (c != '\n' && c != '\r') line.push_back(c);
  }
  return line;
}

} // namespace dravnok::relay
