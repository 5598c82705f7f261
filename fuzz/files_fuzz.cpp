// fuzz-deps: dravnok::files
// A run of messages on the files channel (one per line; a line that starts
// with byte 01 is binary upload data) against an in-memory file system. No
// message may crash the transfer, and an upload is only ever written
// directly inside its destination folder, whatever name the viewer gives.
#include "files/file_transfer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

using namespace dravnok::files;

class NullChannel : public FilesChannel {
public:
  void sendText(const std::string&) override {}
  void sendBinary(std::span<const std::byte>) override {}
  uint64_t bufferedAmount() const override { return 0; }
  bool isOpen() const override { return true; }
};

class MemoryReader : public FileReader {
public:
  std::optional<size_t> read(std::span<std::byte> buffer) override {
    const size_t count = std::min(buffer.size(), left_);
    left_ -= count;
    return count;
  }

private:
  size_t left_ = 3000;
};

class MemoryWriter : public FileWriter {
public:
  bool write(std::span<const std::byte> data) override { return data.size() < 100'000; }
  bool close() override { return true; }
};

// Folders the viewer may name, the one download it can fetch, and a
// Downloads folder that really exists (the transfer creates it).
class MemoryFileSystem : public FileSystem {
public:
  MemoryFileSystem(PathStyle style, std::string downloads) : style_(style), downloads_(std::move(downloads)) {}
  PathStyle style() const override { return style_; }
  std::vector<std::string> driveRoots() override { return {root()}; }
  std::string homeFolder() override { return share(); }
  std::string downloadsFolder() override { return downloads_; }
  PathKind kindOf(const std::string& path) override {
    if (path == share() || path == downloads_) return PathKind::Directory;
    if (path == share() + separator() + "a.txt") return PathKind::RegularFile;
    return PathKind::Missing;
  }
  int64_t modifiedMs(const std::string&) override { return 0; }
  std::unique_ptr<FileReader> openForReading(const std::string& path) override {
    return kindOf(path) == PathKind::RegularFile ? std::make_unique<MemoryReader>() : nullptr;
  }
  std::unique_ptr<FileWriter> openForWriting(const std::string& path) override {
    checkInsideFolder(path);
    return std::make_unique<MemoryWriter>();
  }

private:
  std::string root() const { return style_ == PathStyle::Windows ? "C:\\" : "/"; }
  std::string separator() const { return style_ == PathStyle::Windows ? "\\" : "/"; }
  std::string share() const { return root() + "share"; }

  void checkInsideFolder(const std::string& path) const {
    for (const std::string& folder : {share(), downloads_}) {
      const std::string prefix = folder + separator();
      if (path.compare(0, prefix.size(), prefix) != 0) continue;
      const std::string_view name = std::string_view(path).substr(prefix.size());
      if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string_view::npos)
        std::abort();
      return;
    }
    std::abort();
  }

  PathStyle style_;
  std::string downloads_;
};

std::string downloadsFolder() {
  static const std::string folder =
      (std::filesystem::temp_directory_path() / ("files-fuzz-" + std::to_string(getpid()))).string();
  return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const PathStyle style = (data[0] & 1) ? PathStyle::Windows : PathStyle::Posix;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  {
    FileTransfer transfer(std::make_shared<NullChannel>(), std::make_shared<MemoryFileSystem>(style, downloadsFolder()),
                          nullptr);
    transfer.onOpen();
    while (!rest.empty()) {
      const size_t end = rest.find('\n');
      const std::string_view line = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      if (!line.empty() && line[0] == '\x01') {
        transfer.onFilesMessage(std::as_bytes(std::span(line.substr(1))));
      } else {
        transfer.onFilesMessage(line);
      }
    }
  }
  std::error_code ignored;
  std::filesystem::remove(downloadsFolder(), ignored);
  return 0;
}
