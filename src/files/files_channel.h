#pragma once
// What the file transfer object needs of its data channel. The session adapts
// its channel to this (see weak_channel.h), so the protocol does not depend on
// any particular transport.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace dravnok::files {

class FilesChannel {
public:
  virtual ~FilesChannel() = default;
  // Both sends do nothing once the channel has gone away. sendBinary says
  // whether the bytes were taken (sent or queued): a download that lost a
  // piece must not end as if it were whole.
  virtual void sendText(const std::string& text) = 0;
  virtual bool sendBinary(std::span<const std::byte> data) = 0;
  // Bytes queued for sending; 0 once the channel has gone away.
  virtual uint64_t bufferedAmount() const = 0;
  virtual bool isOpen() const = 0;
  // The largest message the peer accepts; a longer one would be lost whole.
  virtual size_t maxMessageSize() const { return SIZE_MAX; }
};

} // namespace dravnok::files
