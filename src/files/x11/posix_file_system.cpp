// The files protocol's file-system operations on Linux and other POSIX systems.
#include "files/file_system.h"
#include "files/x11/user_volumes.h"

#include "common/env.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace dravnok::files {
namespace {

std::string readSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class Fd {
public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { release(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now; false when close reports an error.
  bool release() {
    if (fd_ < 0) return true;
    int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

private:
  int fd_;
};

// Transfers touch regular files only: a device such as /dev/stdout would let
// an upload write into the agent's event stream, and a FIFO could block the
// channel's thread (hence opening non-blocking, then switching back).
bool regularAndBlocking(int fd) {
  struct stat info {};
  int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
    ::close(fd);
    return false;
  }
  return true;
}

class PosixReader final : public FileReader {
public:
  explicit PosixReader(int fd) : fd_(fd) {}
  std::optional<size_t> read(std::span<std::byte> buffer) override {
    for (;;) {
      ssize_t n = ::read(fd_.get(), buffer.data(), buffer.size());
      if (n >= 0) return static_cast<size_t>(n);
      if (errno != EINTR) return std::nullopt;
    }
  }

private:
  Fd fd_;
};

class PosixWriter final : public FileWriter {
public:
  explicit PosixWriter(int fd) : fd_(fd) {}
  bool write(std::span<const std::byte> data) override {
    while (!data.empty()) {
      ssize_t n = ::write(fd_.get(), data.data(), data.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data = data.subspan(static_cast<size_t>(n));
    }
    return true;
  }
  bool close() override {
    if (!fd_.valid()) return true;
    // A file unlinked while open takes its data with it on close.
    struct stat info {};
    bool removed = ::fstat(fd_.get(), &info) != 0 || (S_ISREG(info.st_mode) && info.st_nlink == 0);
    bool closed = fd_.release();
    return closed && !removed;
  }

private:
  Fd fd_;
};

class PosixFileSystem final : public FileSystem {
public:
  PathStyle style() const override { return PathStyle::Posix; }

  std::vector<std::string> driveRoots() override {
    // Volumes are listed as their mount points: going up from one leads to
    // the folder it is mounted in, which is where it lives on this system.
    std::vector<std::string> roots{"/"};
    for (std::string& volume : userVolumesFromMounts(readSmallFile("/proc/self/mounts"))) {
      roots.push_back(std::move(volume));
    }
    return roots;
  }

  std::string homeFolder() override {
    auto home = envValue("HOME");
    return home ? std::string(*home) : std::string();
  }

  std::string downloadsFolder() override {
    std::string home = homeFolder();
    if (home.empty()) return {};
    std::string config;
    if (auto xdg = envValue("XDG_CONFIG_HOME"); xdg && !xdg->empty() && xdg->front() == '/') {
      config = std::string(*xdg);
    } else {
      config = joinPath(home, ".config", PathStyle::Posix);
    }
    std::string configured =
        downloadDirFromUserDirs(readSmallFile(joinPath(config, "user-dirs.dirs", PathStyle::Posix)), home);
    return configured.empty() ? joinPath(home, "Downloads", PathStyle::Posix) : configured;
  }

  PathKind kindOf(const std::string& path) override {
    struct stat info {};
    if (path.empty() || ::lstat(path.c_str(), &info) != 0) return PathKind::Missing;
    if (S_ISLNK(info.st_mode)) return PathKind::Link;
    if (S_ISREG(info.st_mode)) return PathKind::RegularFile;
    if (S_ISDIR(info.st_mode)) return PathKind::Directory;
    return PathKind::Other;
  }

  int64_t modifiedMs(const std::string& path) override {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || info.st_mtim.tv_sec < 0) return 0;
    return static_cast<int64_t>(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
  }

  std::unique_ptr<FileReader> openForReading(const std::string& path) override {
    // O_NOFOLLOW: a link swapped in after the check is refused all the same.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0 || !regularAndBlocking(fd)) return nullptr;
    return std::make_unique<PosixReader>(fd);
  }

  std::unique_ptr<FileWriter> openForWriting(const std::string& path) override {
    // O_NOFOLLOW: an upload never writes through a link to a file elsewhere.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd < 0 || !regularAndBlocking(fd)) return nullptr;
    return std::make_unique<PosixWriter>(fd);
  }
};

} // namespace

std::shared_ptr<FileSystem> makeNativeFileSystem() { return std::make_shared<PosixFileSystem>(); }

} // namespace dravnok::files
