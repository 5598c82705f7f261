#include "agent/viewer_files.h"

#include <utility>

namespace dravnok::agent {

const EmbeddedFile* findViewerFile(std::string_view requestPath) {
  if (requestPath.empty() || requestPath.front() != '/') return nullptr;
  std::string_view path = requestPath.substr(1);
  if (path.empty()) path = "index.html";
  for (const EmbeddedFile& file : viewerFiles()) {
    if (file.path == path) return &file;
  }
  return nullptr;
}

std::string_view contentTypeFor(std::string_view path) {
  static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".json", "application/json"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".ico", "image/x-icon"},
      {".txt", "text/plain; charset=utf-8"},
  };
  for (const auto& [suffix, type] : kTypes) {
    if (path.ends_with(suffix)) return type;
  }
  return "application/octet-stream";
}

} // namespace dravnok::agent
