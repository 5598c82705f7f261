#pragma once
#include "rtc/common.hpp"
#include "rtc/description.hpp"
#include "rtc/message.hpp"

#include <mutex>

namespace rtc {

// One link of a track's handler chain. Outgoing messages run from the head
// (the track's handler) towards the network; incoming ones run from the
// network end back towards the head. `send` sends towards the network.
class MediaHandler : public std::enable_shared_from_this<MediaHandler> {
public:
  MediaHandler();
  virtual ~MediaHandler();

  // The track's description, given when the handler is set on a track.
  virtual void media([[maybe_unused]] const Description::Media& desc) {}
  virtual void incoming([[maybe_unused]] message_vector& messages, [[maybe_unused]] const message_callback& send) {}
  virtual void outgoing([[maybe_unused]] message_vector& messages, [[maybe_unused]] const message_callback& send) {}

  virtual bool requestKeyframe(const message_callback& send);
  virtual bool requestBitrate(unsigned int bitrate, const message_callback& send);

  // Appends `handler` at the end of the chain.
  void addToChain(shared_ptr<MediaHandler> handler);
  void setNext(shared_ptr<MediaHandler> handler);
  shared_ptr<MediaHandler> next();
  shared_ptr<const MediaHandler> next() const;
  shared_ptr<MediaHandler> last();

  // Runs the whole chain from this handler: outgoing towards the network,
  // incoming from the chain's end back to this handler.
  void incomingChain(message_vector& messages, const message_callback& send);
  void outgoingChain(message_vector& messages, const message_callback& send);
  bool requestKeyframeChain(const message_callback& send);
  bool requestBitrateChain(unsigned int bitrate, const message_callback& send);

private:
  mutable std::mutex nextMutex_;
  shared_ptr<MediaHandler> next_;
};

} // namespace rtc
