#pragma once
// Parsing JSON that comes from outside: the viewer, the agent, the relay pipe.
// The text is refused before any value is built when it is longer or nested
// deeper than the caller allows, so an untrusted tree never grows deep enough
// to exhaust the stack when it is copied, printed or torn down.
#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace dravnok {

// Deeper than any message of ours (they use three or four levels) and far
// from what a 1 MiB thread stack can take.
inline constexpr int kMaxJsonDepth = 32;

// The parsed value, or nothing when the text is not JSON or breaks a limit.
// When `refusal` is given it receives a short English reason for a broken
// limit, and is left empty for text that is simply not JSON. Comments are
// not accepted.
std::optional<nlohmann::json> parseBoundedJson(std::string_view text, size_t maxBytes, int maxDepth,
                                               std::string* refusal = nullptr);

} // namespace dravnok
