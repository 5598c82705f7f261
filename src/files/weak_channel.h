#pragma once
// Adapts a data channel (anything shaped like rtc::Channel: send of a text or
// binary variant, send of bytes, bufferedAmount, isOpen, maxMessageSize) to
// FilesChannel. It holds the channel weakly, so the file transfer object
// never keeps a closed channel alive. The channel's send returns false when
// the message was queued, which is no failure; a failure throws, and is
// swallowed here (binary sends report it).
#include "files/files_channel.h"

#include <exception>
#include <memory>

namespace dravnok::files {

template <class Channel> class WeakChannel final : public FilesChannel {
public:
  explicit WeakChannel(std::weak_ptr<Channel> channel) : channel_(std::move(channel)) {}

  void sendText(const std::string& text) override {
    if (auto channel = channel_.lock()) {
      try {
        channel->send(text);
      } catch (const std::exception&) {
      }
    }
  }

  bool sendBinary(std::span<const std::byte> data) override {
    auto channel = channel_.lock();
    if (!channel) return false;
    try {
      channel->send(data.data(), data.size());
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }

  uint64_t bufferedAmount() const override {
    auto channel = channel_.lock();
    return channel ? static_cast<uint64_t>(channel->bufferedAmount()) : 0;
  }

  bool isOpen() const override {
    auto channel = channel_.lock();
    return channel && channel->isOpen();
  }

  size_t maxMessageSize() const override {
    auto channel = channel_.lock();
    return channel ? channel->maxMessageSize() : SIZE_MAX;
  }

private:
  std::weak_ptr<Channel> channel_;
};

} // namespace dravnok::files
