#pragma once
// UTF-8 <-> UTF-16 conversion. Ill-formed input becomes U+FFFD, as the
// system's code page functions do.
#include <string>
#include <string_view>

namespace dravnok {

std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);

} // namespace dravnok
