#pragma once
// Attaches the file transfer protocol to a newly announced "files" channel.
// Channel is rtc::DataChannel in the helper and a stand-in in tests; only its
// shape matters: onOpen, onClosed, onMessage(binary handler, text handler),
// isOpen, plus what WeakChannel uses.
#include "files/file_transfer.h"
#include "files/file_transfer_slot.h"
#include "files/weak_channel.h"

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace dravnok::files {

template <class Channel>
void attachFilesChannel(FileTransferSlot& slot, const std::shared_ptr<Channel>& channel, LogFunction log,
                        std::shared_ptr<FileSystem> fileSystem = makeNativeFileSystem()) {
  auto transfer = std::make_shared<FileTransfer>(std::make_shared<WeakChannel<Channel>>(channel), std::move(fileSystem),
                                                 std::move(log));
  std::weak_ptr<FileTransfer> weak = transfer;
  slot.replace(transfer);

  channel->onMessage(
      [weak](std::vector<std::byte> data) {
        if (auto t = weak.lock()) t->onFilesMessage(std::span<const std::byte>(data));
      },
      [weak](std::string text) {
        if (auto t = weak.lock()) t->onFilesMessage(std::string_view(text));
      });
  channel->onOpen([weak] {
    if (auto t = weak.lock()) t->onOpen();
  });
  channel->onClosed([weak] {
    if (auto t = weak.lock()) t->onClosed();
  });
  // A channel that opened before its handlers were registered still gets its
  // greeting; onOpen sends it only once.
  if (channel->isOpen()) transfer->onOpen();
}

} // namespace dravnok::files
