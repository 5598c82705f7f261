#pragma once
// Whole files in binary, at UTF-8 paths.
#include <optional>
#include <string>
#include <string_view>

namespace dravnok::diagnostics {

std::optional<std::string> readBinaryFile(const std::string& path);
// Truncates; false when the file cannot be opened.
bool writeBinaryFile(const std::string& path, std::string_view bytes);

} // namespace dravnok::diagnostics
