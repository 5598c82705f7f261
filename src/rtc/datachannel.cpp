#include "rtc/datachannel.hpp"

#include <stdexcept>

namespace rtc {

DataChannel::DataChannel(string label, string protocol, Reliability reliability)
    : label_(std::move(label)), protocol_(std::move(protocol)), reliability_(reliability) {}

// The application owns its channels; dropping the last reference closes the
// channel, so that the peer learns of it.
DataChannel::~DataChannel() {
  if (!setClosed()) return;
  std::shared_ptr<impl::DataChannelSink> sink = sink_.lock();
  if (sink && stream_) sink->closeChannelStream(*stream_);
}

string DataChannel::label() const { return label_; }
string DataChannel::protocol() const { return protocol_; }
Reliability DataChannel::reliability() const { return reliability_; }

optional<uint16_t> DataChannel::stream() const {
  std::lock_guard lock(mutex_);
  return stream_;
}

bool DataChannel::send(message_variant data) {
  if (closed_) throw std::runtime_error("the data channel is closed");
  if (!open_) throw std::runtime_error("the data channel is not open yet");
  auto message = make_message(std::move(data));
  std::shared_ptr<impl::DataChannelSink> sink;
  uint16_t stream;
  {
    std::lock_guard lock(mutex_);
    sink = sink_.lock();
    if (!sink || !stream_) throw std::runtime_error("the data channel's connection is gone");
    stream = *stream_;
  }
  if (message->size() > sink->remoteMaxMessageSize()) {
    throw std::runtime_error("a message of " + std::to_string(message->size()) +
                             " bytes is larger than the peer accepts");
  }
  message->stream = stream;
  // Until the peer acknowledged the open, messages must stay ordered.
  return sink->sendChannelMessage(stream, std::move(message), reliability_.unordered && acknowledged_);
}

bool DataChannel::send(const byte* data, size_t size) { return send(binary(data, data + size)); }

bool DataChannel::isOpen() const { return open_ && !closed_; }
bool DataChannel::isClosed() const { return closed_; }

void DataChannel::close() {
  std::shared_ptr<impl::DataChannelSink> sink;
  optional<uint16_t> stream;
  {
    std::lock_guard lock(mutex_);
    sink = sink_.lock();
    stream = stream_;
  }
  if (closed_) return;
  if (sink && stream) {
    sink->closeChannelStream(*stream);
  } else {
    setClosed();
  }
}

size_t DataChannel::maxMessageSize() const {
  std::lock_guard lock(mutex_);
  auto sink = sink_.lock();
  return sink ? sink->remoteMaxMessageSize() : 65536;
}

void DataChannel::attach(std::weak_ptr<impl::DataChannelSink> sink, uint16_t stream) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
  stream_ = stream;
}

void DataChannel::setOpen() { open_ = true; }
void DataChannel::setAcknowledged() { acknowledged_ = true; }

bool DataChannel::setClosed() { return !closed_.exchange(true); }

void DataChannel::addBuffered(size_t amount) { bufferedAmount_ += amount; }

size_t DataChannel::removeBuffered(size_t amount) {
  size_t current = bufferedAmount_.load();
  while (!bufferedAmount_.compare_exchange_weak(current, current >= amount ? current - amount : 0)) {
  }
  return current >= amount ? current - amount : 0;
}

} // namespace rtc
