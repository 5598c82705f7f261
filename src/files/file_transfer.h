#pragma once
// The file transfer object behind the "files" data channel: directory
// listings, one download at a time on a thread of its own, and one upload at
// a time into a destination folder.
#include "files/file_system.h"
#include "files/files_channel.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <span>
#include <string>
#include <string_view>
#include <thread>

namespace dravnok::files {

using LogFunction = std::function<void(const std::string& level, const std::string& message)>;

// Downloads pause while more than this is queued on the channel.
inline constexpr uint64_t kDownloadBufferLimit = 8 * 1024 * 1024;
inline constexpr size_t kDownloadChunk = 64 * 1024;
inline constexpr size_t kListingLimit = 5000;
// Requests name one path or file; anything longer is refused unread.
inline constexpr size_t kMaxRequestBytes = 65536;

class FileTransfer {
public:
  FileTransfer(std::shared_ptr<FilesChannel> channel, std::shared_ptr<FileSystem> fileSystem, LogFunction log);
  // Aborts the upload and stops the download.
  ~FileTransfer();
  FileTransfer(const FileTransfer&) = delete;
  FileTransfer& operator=(const FileTransfer&) = delete;

  // Channel events. Sends "hello" on the first open only, so an open that is
  // both seen at attach time and reported later greets once.
  void onOpen();
  void onClosed();
  void onFilesMessage(std::string_view text);
  void onFilesMessage(std::span<const std::byte> data);

  // Aborts the upload, then stops the download. Never call it from the
  // download thread (it joins that thread).
  void stop();

  bool downloadRunning() const { return downloadRunning_; }

private:
  static std::string serialize(const nlohmann::json& message);
  void send(const nlohmann::json& message);
  void sendError(const std::string& text);
  std::string downloadsFolder();

  void handleList(const std::string& path);
  void handleGet(const std::string& path);
  void handlePut(const std::string& name, const std::string& dir, uint64_t size);
  void handlePutDone();
  void writeUploadData(std::span<const std::byte> data);

  void abortUpload();
  void stopDownload();
  void runDownload(std::unique_ptr<FileReader> reader, std::string path, std::string name);

  std::shared_ptr<FilesChannel> channel_;
  std::shared_ptr<FileSystem> fileSystem_;
  LogFunction log_;
  std::atomic<bool> opened_{false};

  std::mutex uploadMutex_;
  std::unique_ptr<FileWriter> uploadStream_;
  bool uploadFailed_ = false;
  std::string uploadPath_;
  uint64_t uploadExpected_ = 0;
  uint64_t uploadReceived_ = 0;

  // Serialises starting and joining the download thread, which the message,
  // close and session threads may each do.
  std::mutex downloadMutex_;
  std::thread downloadThread_;
  std::atomic<bool> downloadCancel_{false};
  std::atomic<bool> downloadRunning_{false};
  // A channel may report its close from inside a send, that is on the
  // download thread itself, which then must not join itself.
  std::atomic<std::thread::id> downloadThreadId_{};
};

} // namespace dravnok::files
