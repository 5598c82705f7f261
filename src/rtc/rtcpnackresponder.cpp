#include "rtc/rtcpnackresponder.hpp"

#include "rtcp_packet.hpp"
#include "rtp_header.hpp"

#include <algorithm>

namespace rtc {

namespace {
constexpr size_t LargestHistory = 32768; // half the sequence number space
}

RtcpNackResponder::RtcpNackResponder(size_t maxSize) : maxSize_(std::clamp<size_t>(maxSize, 1, LargestHistory)) {}

void RtcpNackResponder::outgoing(message_vector& messages, const message_callback&) {
  for (const auto& message : messages) {
    if (!message || message->type != Message::Binary) continue;
    if (const auto header = impl::parseRtpHeader(*message)) store(message, header->sequenceNumber);
  }
}

void RtcpNackResponder::store(const message_ptr& packet, uint16_t sequenceNumber) {
  // A copy, because the transport may encrypt the outgoing packet in place.
  auto copy = std::make_shared<Message>(*packet);
  std::lock_guard lock(mutex_);
  const bool inserted = packets_.insert_or_assign(sequenceNumber, std::move(copy)).second;
  if (!inserted) return; // a resend of a kept sequence number keeps its place
  order_.push_back(sequenceNumber);
  while (order_.size() > maxSize_) {
    packets_.erase(order_.front());
    order_.pop_front();
  }
}

message_ptr RtcpNackResponder::find(uint16_t sequenceNumber, SSRC ssrc) {
  std::lock_guard lock(mutex_);
  auto it = packets_.find(sequenceNumber);
  if (it == packets_.end()) return nullptr;
  const auto header = impl::parseRtpHeader(*it->second);
  if (!header || header->ssrc != ssrc) return nullptr;
  return std::make_shared<Message>(*it->second);
}

void RtcpNackResponder::incoming(message_vector& messages, const message_callback& send) {
  for (const auto& message : messages) {
    if (!message || message->type != Message::Control) continue;
    impl::RtcpWalker walker(*message);
    while (auto packet = walker.next()) {
      const auto mediaSsrc = impl::nackMediaSsrc(*packet);
      if (!mediaSsrc) continue;
      impl::forEachNackedSequence(*packet, [&](uint16_t sequenceNumber) {
        if (auto resend = find(sequenceNumber, *mediaSsrc); resend && send) send(std::move(resend));
      });
    }
  }
}

} // namespace rtc
