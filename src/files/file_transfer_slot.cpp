#include "files/file_transfer_slot.h"

#include <utility>

namespace dravnok::files {

void FileTransferSlot::replace(std::shared_ptr<FileTransfer> next) {
  std::shared_ptr<FileTransfer> previous;
  {
    std::lock_guard lock(mutex_);
    previous = std::exchange(transfer_, std::move(next));
  }
  // A channel handler may still hold the previous object for a moment; stop
  // it now so its transfers end with the replacement, not with that handler.
  if (previous) previous->stop();
}

void FileTransferSlot::stop() {
  if (auto transfer = current()) transfer->stop();
}

void FileTransferSlot::reset() { replace(nullptr); }

std::shared_ptr<FileTransfer> FileTransferSlot::current() const {
  std::lock_guard lock(mutex_);
  return transfer_;
}

} // namespace dravnok::files
