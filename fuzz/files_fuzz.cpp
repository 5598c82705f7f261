// fuzz-deps: dravnok::files
// fuzz-max-len: 140000
// A run of messages on the files channel (one per line; a line that starts
// with byte 01 is binary upload data) against a made-up file system. No
// message may crash the transfer, and an upload is only ever written
// directly inside its destination folder, whatever name the viewer gives.
#include "files/file_transfer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

namespace {

using namespace dravnok::files;

class NullChannel : public FilesChannel {
public:
  void sendText(const std::string&) override {}
  bool sendBinary(std::span<const std::byte>) override { return true; }
  uint64_t bufferedAmount() const override { return 0; }
  bool isOpen() const override { return true; }
};

class MemoryWriter : public FileWriter {
public:
  bool write(std::span<const std::byte> data) override { return data.size() < 100'000; }
  bool close() override { return true; }
};

class NullReader : public FileReader {
public:
  std::optional<size_t> read(std::span<std::byte>) override { return 0; }
};

// One shared folder holding the one file the viewer can fetch, and the
// Downloads folder. With POSIX paths both really exist under a scratch
// folder, since listing and sizing go to the real file system; Windows
// paths exist only here.
class MemoryFileSystem : public FileSystem {
public:
  MemoryFileSystem(PathStyle style, const std::string& scratch)
      : style_(style), root_(style == PathStyle::Windows ? "C:\\" : scratch + "/"),
        separator_(style == PathStyle::Windows ? "\\" : "/"), share_(root_ + "share"),
        downloads_(style == PathStyle::Windows ? "" : root_ + "Downloads") {}
  PathStyle style() const override { return style_; }
  std::vector<std::string> driveRoots() override { return {root_}; }
  std::string homeFolder() override { return share_; }
  std::string downloadsFolder() override { return downloads_; }
  PathKind kindOf(const std::string& path) override {
    if (path == share_ || (!downloads_.empty() && path == downloads_)) return PathKind::Directory;
    if (path == share_ + separator_ + "a.txt") return PathKind::RegularFile;
    return PathKind::Missing;
  }
  int64_t modifiedMs(const std::string&) override { return 0; }
  std::unique_ptr<FileReader> openForReading(const std::string& path) override {
    return kindOf(path) == PathKind::RegularFile ? std::make_unique<NullReader>() : nullptr;
  }
  std::unique_ptr<FileWriter> openForWriting(const std::string& path) override {
    checkInsideFolder(path);
    return std::make_unique<MemoryWriter>();
  }

private:
  void checkInsideFolder(const std::string& path) const {
    for (const std::string& folder : {share_, downloads_}) {
      if (folder.empty()) continue;
      const std::string prefix = folder + separator_;
      if (path.compare(0, prefix.size(), prefix) != 0) continue;
      const std::string_view name = std::string_view(path).substr(prefix.size());
      if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string_view::npos)
        std::abort();
      return;
    }
    std::abort();
  }

  PathStyle style_;
  std::string root_;
  std::string separator_;
  std::string share_;
  std::string downloads_;
};

// A fixed place, so that seed inputs can name it. Runs side by side share
// it safely: nothing is ever written there after this.
const std::string scratchFolder = "/tmp/files-fuzz";

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::filesystem::create_directories(scratchFolder + "/share");
  std::filesystem::create_directories(scratchFolder + "/Downloads");
  std::ofstream(scratchFolder + "/share/a.txt") << "three";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const PathStyle style = (data[0] & 1) ? PathStyle::Windows : PathStyle::Posix;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  {
    FileTransfer transfer(std::make_shared<NullChannel>(), std::make_shared<MemoryFileSystem>(style, scratchFolder),
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
  return 0;
}
