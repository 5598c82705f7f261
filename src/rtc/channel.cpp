#include "rtc/channel.hpp"

namespace rtc {

Channel::~Channel() = default;

bool Channel::isClosed() const { return !isOpen(); }
size_t Channel::bufferedAmount() const { return bufferedAmount_.load(); }
size_t Channel::maxMessageSize() const { return 65536; }

void Channel::onOpen(std::function<void()> callback) {
  std::lock_guard lock(callbackMutex_);
  openCallback_ = std::move(callback);
}

void Channel::onClosed(std::function<void()> callback) {
  std::lock_guard lock(callbackMutex_);
  closedCallback_ = std::move(callback);
}

void Channel::onError(std::function<void(string)> callback) {
  std::lock_guard lock(callbackMutex_);
  errorCallback_ = std::move(callback);
}

void Channel::onMessage(std::function<void(message_variant)> callback) {
  std::lock_guard lock(callbackMutex_);
  messageCallback_ = std::move(callback);
}

void Channel::onMessage(std::function<void(binary)> binaryCallback, std::function<void(string)> stringCallback) {
  onMessage(
      [binaryCallback = std::move(binaryCallback), stringCallback = std::move(stringCallback)](message_variant data) {
        if (auto* b = std::get_if<binary>(&data)) {
          if (binaryCallback) binaryCallback(std::move(*b));
        } else if (stringCallback) {
          stringCallback(std::move(std::get<string>(data)));
        }
      });
}

void Channel::onBufferedAmountLow(std::function<void()> callback) {
  std::lock_guard lock(callbackMutex_);
  bufferedAmountLowCallback_ = std::move(callback);
}

void Channel::setBufferedAmountLowThreshold(size_t amount) { bufferedAmountLowThreshold_ = amount; }

// Each trigger copies the callback out of the lock so that a callback may
// replace callbacks or drop the channel.
void Channel::triggerOpen() {
  std::function<void()> callback;
  {
    std::lock_guard lock(callbackMutex_);
    if (openDelivered_) return;
    openDelivered_ = true;
    callback = openCallback_;
  }
  if (callback) callback();
}

void Channel::triggerClosed() {
  std::function<void()> callback;
  {
    std::lock_guard lock(callbackMutex_);
    if (closedDelivered_) return;
    closedDelivered_ = true;
    callback = closedCallback_;
  }
  if (callback) callback();
}

void Channel::triggerError(string error) {
  std::function<void(string)> callback;
  {
    std::lock_guard lock(callbackMutex_);
    callback = errorCallback_;
  }
  if (callback) callback(std::move(error));
}

void Channel::triggerMessage(message_variant data) {
  std::function<void(message_variant)> callback;
  {
    std::lock_guard lock(callbackMutex_);
    callback = messageCallback_;
  }
  if (callback) callback(std::move(data));
}

void Channel::triggerBufferedAmount(size_t amount) {
  if (amount > bufferedAmountLowThreshold_.load()) return;
  std::function<void()> callback;
  {
    std::lock_guard lock(callbackMutex_);
    callback = bufferedAmountLowCallback_;
  }
  if (callback) callback();
}

void Channel::resetCallbacks() {
  std::lock_guard lock(callbackMutex_);
  openCallback_ = nullptr;
  closedCallback_ = nullptr;
  errorCallback_ = nullptr;
  messageCallback_ = nullptr;
  bufferedAmountLowCallback_ = nullptr;
}

} // namespace rtc
