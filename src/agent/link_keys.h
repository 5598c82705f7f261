#pragma once
// What the support link's secret S gives: the host's broker identity, whose
// subject only holders of the link can name, and each session's keys. All
// are HKDF-SHA256 of S with the salt "dravnok link v1".
#include "agent/envelope.h"

#include <array>
#include <string>
#include <string_view>

namespace dravnok::agent {

using LinkSecret = std::array<uint8_t, 32>;

LinkSecret makeLinkSecret();
// The Ed25519 seed of the host's user nkey.
std::array<uint8_t, 32> hostSeed(const LinkSecret& secret);
// The key of one session's messages in one direction.
SessionKey sessionKey(const LinkSecret& secret, Direction direction, const SessionId& sid);
// The page's address with the secret in its fragment, which browsers never send.
std::string supportLink(std::string_view page, const LinkSecret& secret);

} // namespace dravnok::agent
