#pragma once
#include <string>
#include <string_view>

namespace dravnok::agent {

// Compares in time that depends only on the lengths, so that a guesser
// learns nothing from how long a refusal takes.
bool secretsEqual(std::string_view expected, std::string_view offered);

// `bytes` random bytes from the system's generator, as lowercase hex.
std::string randomHex(size_t bytes);

} // namespace dravnok::agent
