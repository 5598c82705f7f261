#include "rtc/track.hpp"

namespace rtc {

Track::Track(Description::Media description) : description_(std::move(description)) {}

Track::~Track() = default;

string Track::mid() const {
  std::lock_guard lock(mutex_);
  return description_.mid();
}

Description::Direction Track::direction() const {
  std::lock_guard lock(mutex_);
  return description_.direction();
}

Description::Media Track::description() const {
  std::lock_guard lock(mutex_);
  return description_;
}

bool Track::send(message_variant data) {
  if (!isOpen()) return false;
  return sendThroughChain(make_message(std::move(data)));
}

bool Track::send(const byte* data, size_t size) { return send(binary(data, data + size)); }

bool Track::isOpen() const { return open_ && !closed_; }
bool Track::isClosed() const { return closed_; }

void Track::close() { setClosed(); }

size_t Track::maxMessageSize() const { return 1200; }

void Track::setMediaHandler(shared_ptr<MediaHandler> handler) {
  optional<Description::Media> description;
  {
    std::lock_guard lock(mutex_);
    handler_ = handler;
    description = negotiated_.value_or(description_);
  }
  for (auto h = handler; h; h = h->next()) h->media(*description);
}

void Track::setNegotiated(Description::Media negotiated) {
  shared_ptr<MediaHandler> handler;
  {
    std::lock_guard lock(mutex_);
    negotiated_ = negotiated;
    handler = handler_;
  }
  for (auto h = handler; h; h = h->next()) h->media(negotiated);
}

void Track::chainMediaHandler(shared_ptr<MediaHandler> handler) {
  shared_ptr<MediaHandler> head;
  {
    std::lock_guard lock(mutex_);
    head = handler_;
  }
  if (head) {
    head->addToChain(std::move(handler));
  } else {
    setMediaHandler(std::move(handler));
  }
}

shared_ptr<MediaHandler> Track::getMediaHandler() {
  std::lock_guard lock(mutex_);
  return handler_;
}

bool Track::requestKeyframe() {
  auto handler = getMediaHandler();
  if (!handler) return false;
  return handler->requestKeyframeChain(networkSender());
}

bool Track::requestBitrate(unsigned int bitrate) {
  auto handler = getMediaHandler();
  if (!handler) return false;
  return handler->requestBitrateChain(bitrate, networkSender());
}

void Track::attach(std::weak_ptr<impl::TrackSink> sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

void Track::setOpen() { open_ = true; }
bool Track::setClosed() { return !closed_.exchange(true); }

// Handlers such as a pacer may keep the callback and call it later, after the
// track is gone, so it holds the track weakly.
message_callback Track::networkSender() {
  return [weak = weak_from_this()](message_ptr m) {
    if (auto self = weak.lock()) self->transportSend(std::move(m));
  };
}

bool Track::transportSend(message_ptr packet) {
  std::shared_ptr<impl::TrackSink> sink;
  {
    std::lock_guard lock(mutex_);
    sink = sink_.lock();
  }
  return sink && !closed_ && sink->sendMedia(std::move(packet));
}

bool Track::sendThroughChain(message_ptr message) {
  auto handler = getMediaHandler();
  if (!handler) return transportSend(std::move(message));
  message_vector messages{std::move(message)};
  handler->outgoingChain(messages, networkSender());
  bool sent = !messages.empty();
  for (auto& m : messages) sent = transportSend(std::move(m)) && sent;
  return sent;
}

void Track::incoming(message_ptr packet) {
  message_vector messages{std::move(packet)};
  if (auto handler = getMediaHandler()) {
    handler->incomingChain(messages, networkSender());
  }
  for (auto& m : messages) {
    if (m->type == Message::Binary || m->type == Message::Control) triggerMessage(binary(m->begin(), m->end()));
  }
}

} // namespace rtc
