#include "files/paths.h"

#include "common/utf.h"

#include <type_traits>

namespace dravnok::files {
namespace {

bool isSeparator(char c, PathStyle style) { return c == '/' || (style == PathStyle::Windows && c == '\\'); }

size_t skipSeparators(std::string_view path, size_t at, PathStyle style) {
  while (at < path.size() && isSeparator(path[at], style)) ++at;
  return at;
}

size_t skipComponent(std::string_view path, size_t at, PathStyle style) {
  while (at < path.size() && !isSeparator(path[at], style)) ++at;
  return at;
}

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Length of the root: "C:\", "\\server\share\", "\" or "/" (with any run of
// separators after it); 0 for a relative path.
size_t rootLength(std::string_view path, PathStyle style) {
  if (style == PathStyle::Windows) {
    if (path.size() >= 2 && isAsciiLetter(path[0]) && path[1] == ':') return skipSeparators(path, 2, style);
    if (path.size() > 2 && isSeparator(path[0], style) && isSeparator(path[1], style) && !isSeparator(path[2], style)) {
      size_t share = skipSeparators(path, skipComponent(path, 2, style), style);
      return skipSeparators(path, skipComponent(path, share, style), style);
    }
  }
  return skipSeparators(path, 0, style);
}

size_t lastSeparator(std::string_view path, PathStyle style) {
  for (size_t i = path.size(); i > 0; --i) {
    if (isSeparator(path[i - 1], style)) return i - 1;
  }
  return std::string_view::npos;
}

using PathChar = std::filesystem::path::value_type;

// Paths are wide strings on Windows and bytes elsewhere; the wire is UTF-8.
template <class Char> std::basic_string<Char> nativeFromUtf8(std::string_view utf8) {
  if constexpr (std::is_same_v<Char, char>) {
    return std::string(utf8);
  } else {
    std::u16string wide = utf8ToUtf16(utf8);
    return std::basic_string<Char>(wide.begin(), wide.end());
  }
}

template <class Char> std::string utf8FromNative(const std::basic_string<Char>& native) {
  if constexpr (std::is_same_v<Char, char>) {
    return native;
  } else {
    return utf16ToUtf8(std::u16string(native.begin(), native.end()));
  }
}

} // namespace

std::string_view separatorOf(PathStyle style) { return style == PathStyle::Windows ? "\\" : "/"; }

std::string parentForListing(std::string_view path, PathStyle style) {
  size_t root = rootLength(path, style);
  size_t end = root;
  size_t last = lastSeparator(path, style);
  if (last != std::string_view::npos && last >= root) {
    end = last;
    while (end > root && isSeparator(path[end - 1], style)) --end;
  }
  std::string_view parent = path.substr(0, end);
  return parent == path ? std::string() : std::string(parent);
}

std::string_view fileNameOf(std::string_view path, PathStyle style) {
  size_t last = lastSeparator(path, style);
  return last == std::string_view::npos ? path : path.substr(last + 1);
}

std::string uploadFileName(std::string_view name, PathStyle style) {
  // The name comes from the viewer's machine, which may well use backslashes:
  // both separators count as folder parts everywhere.
  std::string_view file = fileNameOf(name, PathStyle::Windows);
  // "C:x.txt" means x.txt in drive C's current folder.
  if (style == PathStyle::Windows && file.size() >= 2 && isAsciiLetter(file[0]) && file[1] == ':') {
    file.remove_prefix(2);
  }
  if (file == "." || file == "..") return {};
  return std::string(file);
}

bool isUsableFileName(std::string_view name, PathStyle style) {
  if (utf16ToUtf8(utf8ToUtf16(name)) != name) return false; // not UTF-8
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return false;
    if (style == PathStyle::Windows && std::string_view("<>:\"/\\|?*").find(char(c)) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

std::optional<std::string> wireName(const std::filesystem::path& name) {
  std::string utf8 = toUtf8(name);
  if (utf16ToUtf8(utf8ToUtf16(utf8)) != utf8 || toFsPath(utf8).native() != name.native()) return std::nullopt;
  return utf8;
}

std::string joinPath(std::string_view folder, std::string_view name, PathStyle style) {
  std::string joined(folder);
  if (!joined.empty() && !isSeparator(joined.back(), style)) joined += separatorOf(style);
  joined += name;
  return joined;
}

std::filesystem::path toFsPath(std::string_view utf8) { return std::filesystem::path(nativeFromUtf8<PathChar>(utf8)); }

std::string toUtf8(const std::filesystem::path& path) { return utf8FromNative(path.native()); }

int64_t unixMsFromFileTime(uint64_t fileTime) {
  constexpr uint64_t kUnixEpoch = 116444736000000000ULL; // 1970-01-01 in 100 ns units since 1601
  if (fileTime < kUnixEpoch) return 0;
  return static_cast<int64_t>((fileTime - kUnixEpoch) / 10000);
}

} // namespace dravnok::files
