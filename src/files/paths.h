#pragma once
// Path text rules of the files protocol. Paths travel as UTF-8 strings in the
// platform's own form, so these work on strings rather than on
// std::filesystem::path, and both forms can be exercised on any platform.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace dravnok::files {

enum class PathStyle {
  Windows, // "\" or "/" separate; roots like "C:\" or "\\server\share\"
  Posix,   // "/" separates; the root is "/"
};

// The separator the viewer should use when it builds paths.
std::string_view separatorOf(PathStyle style);

// The parent the viewer goes "up" to: everything after the last separator
// dropped, then the separators before it, never above the root. Empty at a
// root, where the parent would be the path itself.
std::string parentForListing(std::string_view path, PathStyle style);

// The last component of a path (the text after its last separator).
std::string_view fileNameOf(std::string_view path, PathStyle style);

// The file name to write an upload under: folder parts (after "/" or "\" on
// any platform) and drive prefixes dropped. Empty when nothing usable is left ("", "." and "..").
std::string uploadFileName(std::string_view name, PathStyle style);

// Whether a name can be written to disk exactly as the viewer sees it: valid
// UTF-8 without NUL or other control characters, and on Windows without the
// characters its file systems give meanings to (":" opens a stream of
// another file).
bool isUsableFileName(std::string_view name, PathStyle style);

// A folder entry's name for the wire; nothing when the name would not come
// back unchanged (bytes that are not UTF-8, a lone UTF-16 surrogate), since
// the viewer could never ask for it.
std::optional<std::string> wireName(const std::filesystem::path& name);

// folder + separator + name, without doubling a separator the folder ends with.
std::string joinPath(std::string_view folder, std::string_view name, PathStyle style);

// Conversions between UTF-8 wire text and std::filesystem paths that never
// throw (ill-formed text becomes U+FFFD) and ignore the process locale.
std::filesystem::path toFsPath(std::string_view utf8);
std::string toUtf8(const std::filesystem::path& path);

// A Windows FILETIME (100 ns units since 1601) as milliseconds since 1970;
// 0 for times before 1970.
int64_t unixMsFromFileTime(uint64_t fileTime);

} // namespace dravnok::files
