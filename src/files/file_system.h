#pragma once
// The file-system operations whose behaviour differs between platforms. The
// protocol itself stays portable; win32/ and x11/ implement this.
#include "files/paths.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace dravnok::files {

// What a path names, looked at without following links.
enum class PathKind { Missing, RegularFile, Directory, Link, Other };

class FileReader {
public:
  virtual ~FileReader() = default;
  // Bytes read into buffer: 0 at the end of the file, nullopt on a read error.
  virtual std::optional<size_t> read(std::span<std::byte> buffer) = 0;
};

class FileWriter {
public:
  virtual ~FileWriter() = default;
  // Writes all of data; false when any of it could not be written.
  virtual bool write(std::span<const std::byte> data) = 0;
  // Closes the file; false when closing failed or the file was removed while
  // it was being written (the data would then be lost without a write error).
  virtual bool close() = 0;
};

class FileSystem {
public:
  virtual ~FileSystem() = default;
  virtual PathStyle style() const = 0;
  // The roots the viewer starts browsing from, in UTF-8.
  virtual std::vector<std::string> driveRoots() = 0;
  // The user's profile folder; empty when unknown.
  virtual std::string homeFolder() = 0;
  // The user's Downloads folder (not created here); empty when unknown.
  virtual std::string downloadsFolder() = 0;
  virtual PathKind kindOf(const std::string& path) = 0;
  // Last write time in milliseconds since 1970 (UTC); 0 when it cannot be
  // read or lies before 1970.
  virtual int64_t modifiedMs(const std::string& path) = 0;
  // Binary reading and writing (truncating), with other programs allowed to
  // use the file meanwhile. Null when the file cannot be opened.
  virtual std::unique_ptr<FileReader> openForReading(const std::string& path) = 0;
  virtual std::unique_ptr<FileWriter> openForWriting(const std::string& path) = 0;
};

// This platform's file system.
std::shared_ptr<FileSystem> makeNativeFileSystem();

} // namespace dravnok::files
