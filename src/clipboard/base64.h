#pragma once
// Base64 with the standard alphabet and '=' padding, as the viewer uses it
// for clipboard images.
#include <string>
#include <string_view>

namespace dravnok::clipboard {

std::string base64Encode(std::string_view bytes);

// Lenient on purpose: bytes outside the alphabet (line breaks, spaces) are
// skipped and the first '=' ends the text, so a viewer's wrapped or padded
// text decodes the same.
std::string base64Decode(std::string_view text);

} // namespace dravnok::clipboard
