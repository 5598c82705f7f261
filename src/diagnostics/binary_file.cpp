#include "diagnostics/binary_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace dravnok::diagnostics {
namespace {

std::filesystem::path fromUtf8(const std::string& path) { return std::u8string(path.begin(), path.end()); }

} // namespace

std::optional<std::string> readBinaryFile(const std::string& path) {
  std::ifstream file(fromUtf8(path), std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool writeBinaryFile(const std::string& path, std::string_view bytes) {
  std::ofstream file(fromUtf8(path), std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

} // namespace dravnok::diagnostics
