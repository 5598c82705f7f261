#include "files/x11/user_volumes.h"

#include <algorithm>
#include <sstream>

namespace dravnok::files {
namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// The mount table writes space, tab, newline and backslash as \ooo.
std::string unescapeMountField(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      std::string_view digits = field.substr(i + 1, 3);
      if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        out += static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

bool isUnder(std::string_view path, std::string_view folder) {
  return path.size() > folder.size() + 1 && path.substr(0, folder.size()) == folder && path[folder.size()] == '/';
}

} // namespace

std::string downloadDirFromUserDirs(std::string_view userDirs, std::string_view home) {
  std::string found;
  std::istringstream lines{std::string(userDirs)};
  for (std::string line; std::getline(lines, line);) {
    std::string_view text = trim(line);
    constexpr std::string_view kKey = "XDG_DOWNLOAD_DIR";
    if (text.substr(0, kKey.size()) != kKey) continue;
    text = trim(text.substr(kKey.size()));
    if (text.empty() || text.front() != '=') continue;
    text = trim(text.substr(1));
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') continue;
    text = text.substr(1, text.size() - 2);
    std::string value;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\\' && i + 1 < text.size()) ++i;
      value += text[i];
    }
    if (value == "$HOME" || value.rfind("$HOME/", 0) == 0) {
      if (home.empty()) continue;
      value = std::string(home) + value.substr(5);
      while (value.size() > 1 && value.back() == '/') value.pop_back();
    } else if (value.empty() || value.front() != '/') {
      continue; // only absolute and home-relative paths are allowed there
    }
    found = value; // the last assignment wins, as when the file is sourced
  }
  return found;
}

std::vector<std::string> userVolumesFromMounts(std::string_view mounts) {
  std::vector<std::string> volumes;
  std::istringstream lines{std::string(mounts)};
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string device, mountPoint;
    if (!(fields >> device >> mountPoint)) continue;
    std::string path = unescapeMountField(mountPoint);
    if (!isUnder(path, "/media") && !isUnder(path, "/run/media") && !isUnder(path, "/mnt")) continue;
    if (std::find(volumes.begin(), volumes.end(), path) == volumes.end()) volumes.push_back(path);
  }
  return volumes;
}

} // namespace dravnok::files
