#include "files/file_transfer.h"

#include "common/bounded_json.h"
#include "files/paths.h"

#include <chrono>
#include <nlohmann/json.hpp>
#include <system_error>
#include <vector>

namespace dravnok::files {
namespace {

using nlohmann::json;

constexpr std::string_view kUploadShort = "the upload ended short \u2014 the file may be incomplete";

std::string stringMember(const json& message, const char* key) {
  auto it = message.find(key);
  return it != message.end() && it->is_string() ? it->get<std::string>() : std::string();
}

uint64_t sizeMember(const json& message, const char* key) {
  auto it = message.find(key);
  return it != message.end() && it->is_number_unsigned() ? it->get<uint64_t>() : 0;
}

} // namespace

FileTransfer::FileTransfer(std::shared_ptr<FilesChannel> channel, std::shared_ptr<FileSystem> fileSystem,
                           LogFunction log)
    : channel_(std::move(channel)), fileSystem_(std::move(fileSystem)), log_(std::move(log)) {}

FileTransfer::~FileTransfer() { stop(); }

// File names need not be valid UTF-8 on every file system; replace rather
// than throw.
std::string FileTransfer::serialize(const json& message) {
  return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

void FileTransfer::send(const json& message) {
  std::string text = serialize(message);
  try {
    channel_->sendText(text);
  } catch (const std::exception&) {
    // A channel that fails to send is as good as gone.
  }
}

void FileTransfer::sendError(const std::string& text) { send({{"t", "error"}, {"msg", text}}); }

std::string FileTransfer::downloadsFolder() {
  std::string folder = fileSystem_->downloadsFolder();
  if (!folder.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(toFsPath(folder), ignored);
  }
  return folder;
}

void FileTransfer::onOpen() {
  if (opened_.exchange(true)) return;
  if (log_) log_("info", "files channel open");
  send({{"t", "hello"},
        {"downloads", downloadsFolder()},
        {"home", fileSystem_->homeFolder()},
        {"sep", separatorOf(fileSystem_->style())}});
}

void FileTransfer::onClosed() {
  if (log_) log_("info", "files channel closed");
  stop();
}

void FileTransfer::onFilesMessage(std::span<const std::byte> data) { writeUploadData(data); }

void FileTransfer::onFilesMessage(std::string_view text) {
  std::string refusal;
  std::optional<json> parsed = parseBoundedJson(text, kMaxRequestBytes, kMaxJsonDepth, &refusal);
  if (!refusal.empty() && log_) log_("warn", "files: request dropped (" + refusal + ")");
  if (!parsed || !parsed->is_object()) return;
  const json& message = *parsed;
  std::string type = stringMember(message, "t");
  if (type == "ls") {
    handleList(stringMember(message, "path"));
  } else if (type == "get") {
    handleGet(stringMember(message, "path"));
  } else if (type == "put") {
    handlePut(stringMember(message, "name"), stringMember(message, "dir"), sizeMember(message, "size"));
  } else if (type == "put-done") {
    handlePutDone();
  } else if (type == "cancel") {
    stop();
  }
}

void FileTransfer::handleList(const std::string& path) {
  json entries = json::array();
  if (path.empty()) {
    for (const std::string& root : fileSystem_->driveRoots()) {
      entries.push_back({{"n", root}, {"d", true}, {"s", 0}, {"m", 0}});
    }
    send({{"t", "ls-res"}, {"path", ""}, {"up", ""}, {"entries", std::move(entries)}});
    return;
  }

  namespace fs = std::filesystem;
  json reply = {{"t", "ls-res"}, {"path", path}, {"up", parentForListing(path, fileSystem_->style())}};
  // A reply longer than the peer accepts would be lost whole, so a big
  // folder is cut short by size as well as by count.
  const size_t sizeLimit = channel_->maxMessageSize();
  reply["entries"] = json::array();
  size_t replySize = serialize(reply).size();
  // A NUL would cut the path short: another folder would be listed.
  std::error_code ec =
      path.find('\0') == std::string::npos ? std::error_code() : std::make_error_code(std::errc::invalid_argument);
  // Without skip_permission_denied: a folder we may not read is an error, not an empty listing.
  fs::directory_iterator it;
  if (!ec) it = fs::directory_iterator(toFsPath(path), ec);
  size_t omitted = 0;
  for (; !ec && it != fs::directory_iterator() && entries.size() < kListingLimit; it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    std::optional<std::string> name = wireName(entry.path().filename());
    if (!name) {
      // Room for the count of names left out (",\"omitted\":" and 20 digits).
      if (omitted++ == 0) replySize += 31;
      continue;
    }
    std::error_code entryError;
    bool directory = entry.is_directory(entryError);
    uint64_t size = 0;
    if (!directory) {
      std::error_code sizeError;
      uintmax_t read = entry.file_size(sizeError);
      if (!sizeError) size = read;
    }
    json item = {{"n", *name}, {"d", directory}, {"s", size}, {"m", fileSystem_->modifiedMs(toUtf8(entry.path()))}};
    size_t itemSize = serialize(item).size() + (entries.empty() ? 0 : 1); // and its comma
    if (replySize + itemSize > sizeLimit) break;
    replySize += itemSize;
    entries.push_back(std::move(item));
  }
  if (ec) {
    sendError("cannot open " + path);
    return;
  }
  reply["entries"] = std::move(entries);
  if (omitted > 0) reply["omitted"] = omitted;
  send(reply);
}

void FileTransfer::handleGet(const std::string& path) {
  stopDownload();
  abortUpload();

  if (path.find('\0') != std::string::npos || fileSystem_->kindOf(path) != PathKind::RegularFile) {
    sendError("not a file: " + path);
    return;
  }
  std::error_code ec;
  uintmax_t size = std::filesystem::file_size(toFsPath(path), ec);
  if (ec) {
    sendError("cannot size " + path);
    return;
  }
  std::unique_ptr<FileReader> reader = fileSystem_->openForReading(path);
  if (!reader) {
    sendError("cannot open " + path);
    return;
  }

  std::string name(fileNameOf(path, fileSystem_->style()));
  send({{"t", "get-meta"}, {"name", name}, {"size", static_cast<uint64_t>(size)}});
  std::lock_guard lock(downloadMutex_);
  downloadCancel_ = false;
  downloadRunning_ = true;
  downloadThread_ = std::thread(&FileTransfer::runDownload, this, std::move(reader), path, std::move(name));
}

void FileTransfer::runDownload(std::unique_ptr<FileReader> reader, std::string path, std::string name) {
  downloadThreadId_ = std::this_thread::get_id();
  // A peer that takes smaller messages gets smaller pieces rather than none.
  const size_t largest = channel_->maxMessageSize();
  std::vector<std::byte> buffer(largest > 0 && largest < kDownloadChunk ? largest : kDownloadChunk);
  bool readFailed = false;
  bool sendFailed = false;
  while (!downloadCancel_) {
    // Pacing by the channel's queue keeps memory bounded without any
    // acknowledgement from the viewer.
    while (channel_->bufferedAmount() > kDownloadBufferLimit && !downloadCancel_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (downloadCancel_) break;
    std::optional<size_t> read = reader->read(buffer);
    if (!read) {
      readFailed = true;
      break;
    }
    if (*read == 0) break; // end of file, also when the file shrank meanwhile
    if (!channel_->sendBinary(std::span<const std::byte>(buffer.data(), *read))) {
      sendFailed = true;
      break;
    }
  }
  reader.reset();
  if (!downloadCancel_) {
    // A read or send error must not look like a finished download: the
    // viewer would keep a silently truncated file.
    if (readFailed) {
      sendError("cannot read " + path);
    } else if (sendFailed) {
      sendError("cannot send " + path);
    } else {
      send({{"t", "get-done"}, {"name", name}});
    }
  }
  downloadRunning_ = false;
}

void FileTransfer::stopDownload() {
  if (std::this_thread::get_id() == downloadThreadId_.load()) {
    downloadCancel_ = true;
    return;
  }
  std::lock_guard lock(downloadMutex_);
  if (!downloadThread_.joinable()) return;
  downloadCancel_ = true;
  downloadThread_.join();
  downloadThreadId_ = std::thread::id();
  downloadCancel_ = false;
  downloadRunning_ = false;
}

void FileTransfer::handlePut(const std::string& name, const std::string& dir, uint64_t size) {
  std::lock_guard lock(uploadMutex_);
  if (uploadStream_) {
    // The partial file stays; the viewer started over.
    uploadStream_->close();
    uploadStream_.reset();
    uploadPath_.clear();
    uploadExpected_ = uploadReceived_ = 0;
  }

  std::string fileName = uploadFileName(name, fileSystem_->style());
  if (fileName.empty()) {
    sendError("no filename given");
    return;
  }
  // A NUL would cut the name short on disk, and a name that does not
  // survive the trip as UTF-8 would be written under another name than the
  // one reported.
  if (name.find('\0') != std::string::npos || !isUsableFileName(fileName, fileSystem_->style())) {
    sendError("not a usable file name");
    return;
  }
  std::string folder;
  if (!dir.empty() && dir.find('\0') == std::string::npos && fileSystem_->kindOf(dir) == PathKind::Directory) {
    folder = dir;
  } else {
    folder = downloadsFolder();
  }
  if (folder.empty()) {
    sendError("no writable destination folder");
    return;
  }
  std::string target = joinPath(folder, fileName, fileSystem_->style());
  std::unique_ptr<FileWriter> writer = fileSystem_->openForWriting(target);
  if (!writer) {
    sendError("cannot write to " + target);
    return;
  }
  uploadStream_ = std::move(writer);
  uploadFailed_ = false;
  uploadPath_ = target;
  uploadExpected_ = size;
  uploadReceived_ = 0;
  send({{"t", "put-ready"}, {"path", target}});
}

void FileTransfer::writeUploadData(std::span<const std::byte> data) {
  std::lock_guard lock(uploadMutex_);
  if (!uploadStream_ || data.empty()) return;
  // After a failed write (a full disk) nothing more is written; "put-done"
  // then reports the failure.
  if (!uploadFailed_ && !uploadStream_->write(data)) uploadFailed_ = true;
  uploadReceived_ += data.size();
}

void FileTransfer::handlePutDone() {
  std::lock_guard lock(uploadMutex_);
  if (!uploadStream_) return;
  bool closed = uploadStream_->close();
  uploadStream_.reset();
  bool complete = uploadExpected_ == 0 || uploadReceived_ == uploadExpected_;
  bool ok = closed && !uploadFailed_ && complete;
  send({{"t", ok ? "put-ok" : "error"},
        {"path", uploadPath_},
        {"received", uploadReceived_},
        {"msg", ok ? std::string() : std::string(kUploadShort)}});
  uploadPath_.clear();
  uploadExpected_ = uploadReceived_ = 0;
  uploadFailed_ = false;
}

void FileTransfer::abortUpload() {
  std::lock_guard lock(uploadMutex_);
  if (uploadStream_) {
    uploadStream_->close();
    uploadStream_.reset();
  }
  uploadPath_.clear();
  uploadExpected_ = uploadReceived_ = 0;
  uploadFailed_ = false;
}

void FileTransfer::stop() {
  abortUpload();
  stopDownload();
}

} // namespace dravnok::files
