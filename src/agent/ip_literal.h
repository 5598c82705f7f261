#pragma once
#include <string>
#include <string_view>

namespace dravnok::agent {

// The bytes of an IPv4 (4 bytes) or IPv6 (16 bytes) address literal, in
// network order; empty for anything else, names included.
std::string ipLiteralBytes(std::string_view text);

} // namespace dravnok::agent
