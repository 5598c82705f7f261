#pragma once
#include "rtc/common.hpp"
#include "rtc/message.hpp"

#include <atomic>
#include <mutex>

namespace rtc {

// What data channels and tracks share: sending, state and callbacks. The
// callbacks run on the connection's callback thread, one at a time.
class Channel {
public:
  virtual ~Channel();

  // True when the message went out at once, false when it was queued behind
  // earlier data (see bufferedAmount). A data channel throws
  // std::runtime_error when it cannot send: closed, not open yet, or a
  // message larger than the peer accepts.
  virtual bool send(message_variant data) = 0;
  virtual bool send(const byte* data, size_t size) = 0;
  virtual bool isOpen() const = 0;
  virtual bool isClosed() const;
  virtual void close() = 0;
  virtual size_t bufferedAmount() const;
  virtual size_t maxMessageSize() const;

  void onOpen(std::function<void()> callback);
  void onClosed(std::function<void()> callback);
  void onError(std::function<void(string error)> callback);
  void onMessage(std::function<void(message_variant data)> callback);
  void onMessage(std::function<void(binary data)> binaryCallback, std::function<void(string data)> stringCallback);
  void onBufferedAmountLow(std::function<void()> callback);
  void setBufferedAmountLowThreshold(size_t amount);

  // Called by the connection on its callback thread.
  void triggerOpen();
  void triggerClosed();
  void triggerError(string error);
  void triggerMessage(message_variant data);
  void triggerBufferedAmount(size_t amount);
  void resetCallbacks();

protected:
  std::atomic<size_t> bufferedAmount_{0};

private:
  mutable std::mutex callbackMutex_;
  std::function<void()> openCallback_;
  std::function<void()> closedCallback_;
  std::function<void(string)> errorCallback_;
  std::function<void(message_variant)> messageCallback_;
  std::function<void()> bufferedAmountLowCallback_;
  std::atomic<size_t> bufferedAmountLowThreshold_{0};
  bool openDelivered_ = false;
  bool closedDelivered_ = false;
};

} // namespace rtc
