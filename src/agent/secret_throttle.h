#pragma once
// Slows down guessing the secret: after a few wrong secrets from one
// address, every attempt from it is refused for a time that doubles with
// each further failure.
#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace dravnok::agent {

class SecretThrottle {
public:
  using Clock = std::chrono::steady_clock;

  static constexpr int kFreeFailures = 5;
  static constexpr std::chrono::seconds kFirstWait{1};
  static constexpr std::chrono::seconds kLongestWait{300};
  // Addresses remembered at most; the least recently seen is forgotten first.
  static constexpr size_t kMaxAddresses = 4096;

  // How long `address` must still wait; zero when it may try.
  std::chrono::seconds waitFor(const std::string& address, Clock::time_point now);
  void failed(const std::string& address, Clock::time_point now);
  void succeeded(const std::string& address);

private:
  struct Record {
    int failures = 0;
    Clock::time_point blockedUntil;
    Clock::time_point lastSeen;
  };

  std::mutex mutex_;
  std::unordered_map<std::string, Record> records_;
};

} // namespace dravnok::agent
