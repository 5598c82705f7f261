#include "agent/viewer_files.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

using namespace dravnok::agent;

TEST(ViewerFiles, TheProgramCarriesThePageFolderByteForByte) {
  std::map<std::string, std::string> onDisk;
  const std::filesystem::path folder = DRAVNOK_VIEWER_SOURCE_DIR;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::ostringstream bytes;
    bytes << std::ifstream(entry.path(), std::ios::binary).rdbuf();
    onDisk[entry.path().lexically_relative(folder).generic_string()] = bytes.str();
  }
  std::map<std::string, std::string> embedded;
  for (const EmbeddedFile& file : viewerFiles()) embedded[std::string(file.path)] = file.bytes;
  ASSERT_TRUE(onDisk.contains("index.html"));
  EXPECT_EQ(embedded, onDisk);
}

TEST(ViewerFiles, ARequestReachesNothingButThePagesFiles) {
  const std::pair<std::string_view, const char*> cases[] = {
      {"/", "index.html"},    {"/viewer.js", "viewer.js"}, {"/index.html", "index.html"}, {"", nullptr},
      {"viewer.js", nullptr}, {"/../viewer.js", nullptr},  {"/viewer.js/", nullptr},      {"//viewer.js", nullptr},
  };
  for (const auto& [request, expected] : cases) {
    const EmbeddedFile* file = findViewerFile(request);
    EXPECT_EQ(file ? std::string(file->path) : "none", expected ? expected : "none") << request;
  }
  const std::pair<std::string_view, std::string_view> types[] = {
      {"a/index.html", "text/html; charset=utf-8"},
      {"viewer.js", "text/javascript; charset=utf-8"},
      {"viewer.css", "text/css; charset=utf-8"},
      {"viewer.js.map", "application/octet-stream"},
  };
  for (const auto& [path, type] : types) EXPECT_EQ(contentTypeFor(path), type) << path;
}
