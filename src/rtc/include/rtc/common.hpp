#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace rtc {

using std::byte;
using std::nullopt;
using std::optional;
using std::shared_ptr;
using std::string;
using std::variant;
using std::weak_ptr;

using binary = std::vector<byte>;
using message_variant = variant<binary, string>;

typedef uint32_t SSRC;

} // namespace rtc
