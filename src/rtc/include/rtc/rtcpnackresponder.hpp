#pragma once
#include "rtc/mediahandler.hpp"

#include <deque>
#include <mutex>
#include <unordered_map>

namespace rtc {

// Keeps copies of the last outgoing RTP packets and sends again those that
// an incoming Generic NACK (RFC 4585) names, unchanged. NACKs for packets
// no longer or never kept are ignored.
class RtcpNackResponder : public MediaHandler {
public:
  inline static const size_t DefaultMaxSize = 512;

  // The history holds between 1 and 32768 packets, so that sequence
  // numbers in it are unique.
  explicit RtcpNackResponder(size_t maxSize = DefaultMaxSize);

  void incoming(message_vector& messages, const message_callback& send) override;
  void outgoing(message_vector& messages, const message_callback& send) override;

private:
  void store(const message_ptr& packet, uint16_t sequenceNumber);
  message_ptr find(uint16_t sequenceNumber, SSRC ssrc);

  const size_t maxSize_;
  std::mutex mutex_;
  std::deque<uint16_t> order_;
  std::unordered_map<uint16_t, message_ptr> packets_;
};

} // namespace rtc
