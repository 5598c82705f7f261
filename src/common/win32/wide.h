#pragma once
// UTF-8 <-> wide strings for Windows APIs (wchar_t is UTF-16 there).
#include "common/utf.h"

#include <string>
#include <string_view>

namespace dravnok {

inline std::wstring toWide(std::string_view text) {
  std::u16string wide = utf8ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

inline std::string fromWide(std::wstring_view text) {
  return utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

} // namespace dravnok
