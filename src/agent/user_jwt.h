#pragma once
// The broker's user credential: a JWT that a role's signing key issues for
// one user key. The account's scope for that signing key decides what the
// user may do, so the claims carry no permissions of their own.
#include "agent/nkey.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace dravnok::agent {

std::string mintUserJwt(const Nkey& signer, std::string_view accountPublic, const Nkey& user, std::string_view name,
                        int64_t issuedAt);

} // namespace dravnok::agent
