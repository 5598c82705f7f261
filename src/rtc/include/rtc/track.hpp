#pragma once
#include "rtc/channel.hpp"
#include "rtc/description.hpp"
#include "rtc/mediahandler.hpp"

namespace rtc {

namespace impl {
// Where a track's RTP and RTCP packets go once its handler chain has run:
// the connection's SRTP session on the shared transport.
class TrackSink {
public:
  virtual ~TrackSink() = default;
  virtual bool sendMedia(message_ptr packet) = 0;
};
} // namespace impl

class Track final : public Channel, public std::enable_shared_from_this<Track> {
public:
  explicit Track(Description::Media description);
  ~Track() override;

  string mid() const;
  Description::Direction direction() const;
  Description::Media description() const;

  bool send(message_variant data) override;
  bool send(const byte* data, size_t size) override;
  bool isOpen() const override;
  bool isClosed() const override;
  void close() override;
  size_t maxMessageSize() const override;

  bool requestKeyframe();
  bool requestBitrate(unsigned int bitrate);

  void setMediaHandler(shared_ptr<MediaHandler> handler);
  void chainMediaHandler(shared_ptr<MediaHandler> handler);
  shared_ptr<MediaHandler> getMediaHandler();

  // Used by the connection that carries the track.
  void attach(std::weak_ptr<impl::TrackSink> sink);
  // The track's section as negotiated (our answer's): what the handlers are
  // told from now on, so that they use what the peer agreed to (header
  // extensions). `description()` stays what the track was made with.
  void setNegotiated(Description::Media negotiated);
  void setOpen();
  bool setClosed();
  // An RTP or RTCP packet from the network, already decrypted.
  void incoming(message_ptr packet);

private:
  bool transportSend(message_ptr packet);
  message_callback networkSender();
  bool sendThroughChain(message_ptr message);

  mutable std::mutex mutex_;
  Description::Media description_;
  optional<Description::Media> negotiated_;
  shared_ptr<MediaHandler> handler_;
  std::weak_ptr<impl::TrackSink> sink_;
  std::atomic<bool> open_{false};
  std::atomic<bool> closed_{false};
};

} // namespace rtc
