#include "files/win32/windows_paths.h"

#include "common/win32/wide.h"

#include <windows.h>

namespace dravnok::files {

PathKind kindFromAttributes(uint32_t attributes, uint32_t reparseTag) {
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      (reparseTag == IO_REPARSE_TAG_SYMLINK || reparseTag == IO_REPARSE_TAG_MOUNT_POINT)) {
    return PathKind::Link;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Directory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::Other;
  return PathKind::RegularFile;
}

std::vector<std::string> splitDriveStrings(std::wstring_view buffer) {
  std::vector<std::string> roots;
  while (!buffer.empty()) {
    size_t end = buffer.find(L'\0');
    std::wstring_view root = buffer.substr(0, end);
    if (root.empty()) break; // the list ends with an empty string
    roots.push_back(fromWide(root));
    if (end == std::wstring_view::npos) break;
    buffer.remove_prefix(end + 1);
  }
  return roots;
}

} // namespace dravnok::files
