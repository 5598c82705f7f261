#pragma once
// The viewer page's files, compiled into remote-agent so that it serves the
// page from wherever it lies.
#include <span>
#include <string_view>

namespace dravnok::agent {

struct EmbeddedFile {
  std::string_view path; // relative to the page's folder, with "/" between folders
  std::string_view bytes;
};

// Generated at build time from the viewer/ folder.
std::span<const EmbeddedFile> viewerFiles();

// The file that a request path names ("/" is index.html); null for any
// other path, so nothing outside the page can be asked for.
const EmbeddedFile* findViewerFile(std::string_view requestPath);

// What a browser must be told a file is (module scripts only run as JavaScript).
std::string_view contentTypeFor(std::string_view path);

} // namespace dravnok::agent
