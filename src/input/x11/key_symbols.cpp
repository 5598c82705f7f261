#include "input/x11/key_symbols.h"

#include <X11/X.h>
#include <X11/keysym.h>

namespace dravnok::x11 {

unsigned long keysymForVirtualKey(uint16_t vk, bool extended) {
  if (vk >= 'A' && vk <= 'Z') return XK_a + (vk - 'A');
  if (vk >= '0' && vk <= '9') return XK_0 + (vk - '0');
  if (vk >= 0x70 && vk <= 0x87) return XK_F1 + (vk - 0x70);
  if (vk >= 0x60 && vk <= 0x69) return XK_KP_0 + (vk - 0x60);
  switch (vk) {
  case 0x0D:
    return extended ? XK_KP_Enter : XK_Return;
  case 0x10:
  case 0xA0:
    return XK_Shift_L;
  case 0xA1:
    return XK_Shift_R;
  case 0x11:
  case 0xA2:
    return XK_Control_L;
  case 0xA3:
    return XK_Control_R;
  case 0x12:
  case 0xA4:
    return XK_Alt_L;
  case 0xA5:
    return XK_Alt_R;
  case 0x5B:
    return XK_Super_L;
  case 0x5C:
    return XK_Super_R;
  case 0x5D:
    return XK_Menu;
  case 0x20:
    return XK_space;
  case 0x09:
    return XK_Tab;
  case 0x08:
    return XK_BackSpace;
  case 0x1B:
    return XK_Escape;
  case 0x14:
    return XK_Caps_Lock;
  case 0x2D:
    return XK_Insert;
  case 0x2E:
    return XK_Delete;
  case 0x24:
    return XK_Home;
  case 0x23:
    return XK_End;
  case 0x21:
    return XK_Prior;
  case 0x22:
    return XK_Next;
  case 0x26:
    return XK_Up;
  case 0x28:
    return XK_Down;
  case 0x25:
    return XK_Left;
  case 0x27:
    return XK_Right;
  case 0xC0:
    return XK_grave;
  case 0xBD:
    return XK_minus;
  case 0xBB:
    return XK_equal;
  case 0xDB:
    return XK_bracketleft;
  case 0xDD:
    return XK_bracketright;
  case 0xDC:
    return XK_backslash;
  case 0xBA:
    return XK_semicolon;
  case 0xDE:
    return XK_apostrophe;
  case 0xBC:
    return XK_comma;
  case 0xBE:
    return XK_period;
  case 0xBF:
    return XK_slash;
  case 0x6B:
    return XK_KP_Add;
  case 0x6D:
    return XK_KP_Subtract;
  case 0x6A:
    return XK_KP_Multiply;
  case 0x6F:
    return XK_KP_Divide;
  case 0x6E:
    return XK_KP_Decimal;
  case 0x90:
    return XK_Num_Lock;
  case 0x2C:
    return XK_Print;
  case 0x91:
    return XK_Scroll_Lock;
  case 0x13:
    return XK_Pause;
  default:
    return NoSymbol;
  }
}

unsigned long keysymForCodePoint(char32_t codePoint) {
  switch (codePoint) {
  case U'\n':
  case U'\r':
    return XK_Return;
  case U'\t':
    return XK_Tab;
  case U'\b':
    return XK_BackSpace;
  default:
    break;
  }
  if (codePoint < 0x20 || (codePoint >= 0x7F && codePoint < 0xA0)) return NoSymbol;
  if (codePoint <= 0xFF) return codePoint;
  if (codePoint > 0x10FFFF) return NoSymbol;
  return 0x01000000 | codePoint;
}

} // namespace dravnok::x11
