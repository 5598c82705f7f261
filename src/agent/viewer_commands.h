#pragma once
// The helper commands that a viewer's messages become, over HTTP or through
// the broker: built from the members the helper may use, never the
// viewer's tree itself.
#include <nlohmann/json.hpp>

#include <optional>

namespace dravnok::agent {

// {"sdp"} -> {"cmd":"offer","sdp"}; nothing when sdp is not a string.
std::optional<nlohmann::json> offerCommand(const nlohmann::json& body);
// {"candidate": {candidate, sdpMid, sdpMLineIndex, usernameFragment} | null}
// -> {"cmd":"ice",...}; nothing when a member has the wrong type.
std::optional<nlohmann::json> candidateCommand(const nlohmann::json& body);

} // namespace dravnok::agent
