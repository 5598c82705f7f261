#include "agent/secret_throttle.h"

#include <algorithm>

namespace dravnok::agent {

std::chrono::seconds SecretThrottle::waitFor(const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto it = records_.find(address);
  if (it == records_.end() || it->second.blockedUntil <= now) return std::chrono::seconds(0);
  return std::chrono::ceil<std::chrono::seconds>(it->second.blockedUntil - now);
}

void SecretThrottle::failed(const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (records_.size() >= kMaxAddresses && !records_.contains(address)) {
    auto oldest = std::min_element(records_.begin(), records_.end(),
                                   [](const auto& a, const auto& b) { return a.second.lastSeen < b.second.lastSeen; });
    records_.erase(oldest);
  }
  Record& record = records_[address];
  record.lastSeen = now;
  if (++record.failures < kFreeFailures) return;
  int doublings = std::min(record.failures - kFreeFailures, 16);
  record.blockedUntil = now + std::min<std::chrono::seconds>(kFirstWait * (1 << doublings), kLongestWait);
}

void SecretThrottle::succeeded(const std::string& address) {
  std::lock_guard lock(mutex_);
  records_.erase(address);
}

} // namespace dravnok::agent
