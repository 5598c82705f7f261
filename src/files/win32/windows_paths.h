#pragma once
// Decisions of the Windows file system layer that are worth testing apart
// from the calls that feed them.
#include "files/file_system.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dravnok::files {

// Symbolic links and junctions count as links; other reparse points (cloud
// placeholders, deduplicated files) are what their attributes say.
PathKind kindFromAttributes(uint32_t attributes, uint32_t reparseTag);

// The NUL-separated list that GetLogicalDriveStringsW fills, as UTF-8.
std::vector<std::string> splitDriveStrings(std::wstring_view buffer);

} // namespace dravnok::files
