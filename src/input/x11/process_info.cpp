// X11 desktops have no integrity levels: nothing in front is ever out of
// reach of our input, so there is nothing to warn about.
#include "input/process_info.h"

#include "common/utf.h"

#include <filesystem>
#include <system_error>

namespace dravnok {

bool foregroundIsElevated(uint32_t& pid) {
  pid = 0;
  return false;
}

int32_t integrityLevel(uint32_t) { return -1; }

std::u16string processImageName(uint32_t pid) {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
  if (error) return {};
  return utf8ToUtf16(path.filename().string());
}

} // namespace dravnok
