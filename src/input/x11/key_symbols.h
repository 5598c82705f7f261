#pragma once
// Windows virtual keys and Unicode characters as X keysyms.
#include <cstdint>

namespace dravnok::x11 {

// The keysym of a physical key by its virtual key on a US layout, with the
// left and right modifiers kept apart; 0 (NoSymbol) when there is none.
unsigned long keysymForVirtualKey(uint16_t vk, bool extended);

// The keysym that types a character: Latin-1 as itself, line breaks and tabs
// as their keys, other control characters none (0), the rest as Unicode
// keysyms.
unsigned long keysymForCodePoint(char32_t codePoint);

} // namespace dravnok::x11
