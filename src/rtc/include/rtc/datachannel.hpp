#pragma once
#include "rtc/channel.hpp"

namespace rtc {

namespace impl {
// Where a data channel's messages go: the connection's SCTP association.
class DataChannelSink {
public:
  virtual ~DataChannelSink() = default;
  // True when the message went out at once, false when it waits behind
  // earlier data; throws std::runtime_error when it can be neither.
  virtual bool sendChannelMessage(uint16_t stream, message_ptr message, bool unordered) = 0;
  // Closes the stream of a channel that is closing (or being destroyed).
  virtual void closeChannelStream(uint16_t stream) = 0;
  virtual size_t remoteMaxMessageSize() const = 0;
};
} // namespace impl

struct Reliability {
  bool unordered = false;
  optional<unsigned int> maxPacketLifeTime; // milliseconds
  optional<unsigned int> maxRetransmits;
};

struct DataChannelInit {
  Reliability reliability;
  string protocol;
};

class DataChannel final : public Channel, public std::enable_shared_from_this<DataChannel> {
public:
  DataChannel(string label, string protocol, Reliability reliability);
  ~DataChannel() override;

  string label() const;
  string protocol() const;
  Reliability reliability() const;
  optional<uint16_t> stream() const;

  bool send(message_variant data) override;
  bool send(const byte* data, size_t size) override;
  bool isOpen() const override;
  bool isClosed() const override;
  void close() override;
  size_t maxMessageSize() const override;

  // Used by the connection that carries the channel.
  void attach(std::weak_ptr<impl::DataChannelSink> sink, uint16_t stream);
  void setOpen();
  // The remote side acknowledged the open; messages may now be unordered.
  void setAcknowledged();
  // Marks the channel closed; returns true the first time.
  bool setClosed();
  void addBuffered(size_t amount);
  size_t removeBuffered(size_t amount);

private:
  const string label_;
  const string protocol_;
  const Reliability reliability_;
  mutable std::mutex mutex_;
  std::weak_ptr<impl::DataChannelSink> sink_;
  optional<uint16_t> stream_;
  std::atomic<bool> open_{false};
  std::atomic<bool> closed_{false};
  std::atomic<bool> acknowledged_{false};
};

} // namespace rtc
