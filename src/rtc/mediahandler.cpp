#include "rtc/mediahandler.hpp"

namespace rtc {

MediaHandler::MediaHandler() = default;
MediaHandler::~MediaHandler() = default;

bool MediaHandler::requestKeyframe(const message_callback&) { return false; }
bool MediaHandler::requestBitrate(unsigned int, const message_callback&) { return false; }

void MediaHandler::addToChain(shared_ptr<MediaHandler> handler) { last()->setNext(std::move(handler)); }

void MediaHandler::setNext(shared_ptr<MediaHandler> handler) {
  std::lock_guard lock(nextMutex_);
  next_ = std::move(handler);
}

shared_ptr<MediaHandler> MediaHandler::next() {
  std::lock_guard lock(nextMutex_);
  return next_;
}

shared_ptr<const MediaHandler> MediaHandler::next() const {
  std::lock_guard lock(nextMutex_);
  return next_;
}

shared_ptr<MediaHandler> MediaHandler::last() {
  auto handler = shared_from_this();
  while (auto following = handler->next()) handler = following;
  return handler;
}

void MediaHandler::outgoingChain(message_vector& messages, const message_callback& send) {
  // Each handler may rewrite the batch before the next one (towards the
  // network) sees it.
  for (auto handler = shared_from_this(); handler && !messages.empty(); handler = handler->next())
    handler->outgoing(messages, send);
}

void MediaHandler::incomingChain(message_vector& messages, const message_callback& send) {
  if (auto following = next()) following->incomingChain(messages, send);
  if (!messages.empty()) incoming(messages, send);
}

bool MediaHandler::requestKeyframeChain(const message_callback& send) {
  bool handled = requestKeyframe(send);
  if (auto following = next()) handled = following->requestKeyframeChain(send) || handled;
  return handled;
}

bool MediaHandler::requestBitrateChain(unsigned int bitrate, const message_callback& send) {
  bool handled = requestBitrate(bitrate, send);
  if (auto following = next()) handled = following->requestBitrateChain(bitrate, send) || handled;
  return handled;
}

} // namespace rtc
