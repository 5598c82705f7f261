#pragma once
// Hands access units to the video track: stamps each with an RTP time taken
// from its capture time, keeps sender reports fresh, counts and logs.
#include "video/loop_clock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace dravnok::video {

// The track, its packetizer settings and sender reporter as the sender
// needs them.
class VideoTrackPort {
public:
  virtual ~VideoTrackPort() = default;
  // A track exists, is open and has packetizer settings.
  virtual bool ready() = 0;
  virtual uint32_t startTimestamp() = 0;
  virtual uint32_t secondsToTimestamp(double seconds) = 0;
  virtual double timestampToSeconds(uint32_t timestamp) = 0;
  virtual void setTimestamp(uint32_t timestamp) = 0;
  virtual bool hasReporter() = 0;
  virtual uint32_t lastReportedTimestamp() = 0;
  virtual void requestReport() = 0;
  // May throw; the sender catches it.
  virtual void send(const uint8_t* data, size_t length) = 0;
};

using VideoLog = std::function<void(const std::string& level, const std::string& message)>;

class VideoSender {
public:
  // `clock` is the one that stamps the pictures (the encoder's loop clock):
  // access units carry its sample times, and those without one get its
  // present time, so that the RTP clock runs in the pictures' own units.
  VideoSender(LoopClock& clock, VideoLog log);

  void send(VideoTrackPort* port, const uint8_t* data, size_t length, bool keyFrame, int64_t timestamp);

  uint64_t framesSent() const { return sent; }
  uint64_t keyFramesSent() const { return keysSent; }
  uint64_t framesBeforeOpen() const { return beforeOpen; }

private:
  LoopClock& clock;
  VideoLog log;
  int64_t clockBase = 0;
  uint32_t lastRtpTimestamp = 0;
  bool haveLastRtpTimestamp = false;
  uint64_t sent = 0, keysSent = 0, beforeOpen = 0;
};

} // namespace dravnok::video
