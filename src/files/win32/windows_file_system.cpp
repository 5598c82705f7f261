// The files protocol's file-system operations on Windows.
#include "files/file_system.h"
#include "files/win32/windows_paths.h"

#include "common/win32/wide.h"

#include <windows.h>

#include <algorithm>

namespace dravnok::files {
namespace {

class Handle {
public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { release(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool release() {
    if (!valid()) return true;
    BOOL closed = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed != FALSE;
  }

private:
  HANDLE handle_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Transfers touch disk files only: "CON" or "NUL" in a path name devices, and
// an upload written to the console would land in the agent's event stream.
HANDLE openDiskFile(const std::string& path, DWORD access, DWORD disposition, DWORD flags) {
  HANDLE handle = CreateFileW(toWide(path).c_str(), access, kShareAll, nullptr, disposition, flags, nullptr);
  if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

class WindowsReader final : public FileReader {
public:
  explicit WindowsReader(HANDLE handle) : handle_(handle) {}
  std::optional<size_t> read(std::span<std::byte> buffer) override {
    DWORD read = 0;
    if (!ReadFile(handle_.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
      return std::nullopt;
    }
    return read;
  }

private:
  Handle handle_;
};

class WindowsWriter final : public FileWriter {
public:
  WindowsWriter(HANDLE handle, std::wstring path) : handle_(handle), path_(std::move(path)) {}
  bool write(std::span<const std::byte> data) override {
    while (!data.empty()) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size(), 1u << 30));
      DWORD written = 0;
      if (!WriteFile(handle_.get(), data.data(), chunk, &written, nullptr) || written == 0) return false;
      data = data.subspan(written);
    }
    return true;
  }
  bool close() override {
    if (!handle_.valid()) return true;
    // A file deleted while open (sharing allows it) vanishes on close. Not
    // every system reports the pending delete, so look for the file as well.
    FILE_STANDARD_INFO info{};
    bool removed =
        GetFileInformationByHandleEx(handle_.get(), FileStandardInfo, &info, sizeof info) && info.DeletePending;
    bool closed = handle_.release();
    removed = removed || GetFileAttributesW(path_.c_str()) == INVALID_FILE_ATTRIBUTES;
    return closed && !removed;
  }

private:
  Handle handle_;
  std::wstring path_;
};

class WindowsFileSystem final : public FileSystem {
public:
  PathStyle style() const override { return PathStyle::Windows; }

  std::vector<std::string> driveRoots() override {
    wchar_t buffer[512] = {};
    DWORD length = GetLogicalDriveStringsW(511, buffer);
    if (length == 0 || length > 511) return {};
    return splitDriveStrings(std::wstring_view(buffer, length));
  }

  std::string homeFolder() override {
    wchar_t buffer[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableW(L"USERPROFILE", buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return fromWide(std::wstring_view(buffer, length));
  }

  std::string downloadsFolder() override {
    std::string home = homeFolder();
    return home.empty() ? std::string() : joinPath(home, "Downloads", PathStyle::Windows);
  }

  PathKind kindOf(const std::string& path) override {
    if (path.empty()) return PathKind::Missing;
    std::wstring wide = toWide(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    DWORD tag = 0;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      while (wide.size() > 3 && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
      WIN32_FIND_DATAW found{};
      HANDLE find = FindFirstFileW(wide.c_str(), &found);
      if (find == INVALID_HANDLE_VALUE) return PathKind::Link; // cannot tell: refuse as a link
      FindClose(find);
      tag = found.dwReserved0;
    }
    return kindFromAttributes(attributes, tag);
  }

  int64_t modifiedMs(const std::string& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(toWide(path).c_str(), GetFileExInfoStandard, &data)) return 0;
    uint64_t fileTime =
        (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return unixMsFromFileTime(fileTime);
  }

  std::unique_ptr<FileReader> openForReading(const std::string& path) override {
    HANDLE handle = openDiskFile(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<WindowsReader>(handle);
  }

  std::unique_ptr<FileWriter> openForWriting(const std::string& path) override {
    // The reparse point itself is opened, never what it leads to: an upload
    // must not write through a link or junction to a file elsewhere. So the
    // file is opened as it is and emptied once it proved to be a plain one.
    HANDLE handle =
        openDiskFile(path, GENERIC_WRITE, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    auto writer = std::make_unique<WindowsWriter>(handle, toWide(path));
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
        kindFromAttributes(tag.FileAttributes, tag.ReparseTag) != PathKind::RegularFile || !SetEndOfFile(handle)) {
      return nullptr;
    }
    return writer;
  }
};

} // namespace

std::shared_ptr<FileSystem> makeNativeFileSystem() { return std::make_shared<WindowsFileSystem>(); }

} // namespace dravnok::files
