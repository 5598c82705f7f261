#pragma once
// Questions about the window in front and its process, for the warning that
// remote input cannot reach an administrator window.
#include <cstdint>
#include <string>

namespace dravnok {

// True when the window in front belongs to a process of higher integrity
// than this one; `pid` is its process id (0 when there is no window).
bool foregroundIsElevated(uint32_t& pid);
// The integrity RID of a process's token (0x2000 medium, 0x3000 high); -1
// when it cannot be read.
int32_t integrityLevel(uint32_t pid);
// The file name of a process's executable, without its folder; empty when it
// cannot be read.
std::u16string processImageName(uint32_t pid);

} // namespace dravnok
