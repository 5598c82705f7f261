#pragma once
// The session's one file transfer object. A newer "files" channel replaces it;
// the session stops it, then destroys it, when it ends. Channel handlers reach
// the object only through weak references, so a replaced object is gone for
// good even while its old channel still delivers events.
#include "files/file_transfer.h"

#include <memory>
#include <mutex>

namespace dravnok::files {

class FileTransferSlot {
public:
  FileTransferSlot() = default;
  ~FileTransferSlot() { reset(); }
  FileTransferSlot(const FileTransferSlot&) = delete;
  FileTransferSlot& operator=(const FileTransferSlot&) = delete;

  // Installs next and destroys the previous object (aborting its upload and
  // joining its download) outside the lock.
  void replace(std::shared_ptr<FileTransfer> next);
  // Stops the current object's transfers and keeps it.
  void stop();
  // Destroys the current object.
  void reset();
  std::shared_ptr<FileTransfer> current() const;

private:
  mutable std::mutex mutex_;
  std::shared_ptr<FileTransfer> transfer_;
};

} // namespace dravnok::files
