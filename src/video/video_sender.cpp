#include "video/video_sender.h"

#include <exception>

namespace dravnok::video {

VideoSender::VideoSender(LoopClock& clock, VideoLog log) : clock(clock), log(std::move(log)) {}

void VideoSender::send(VideoTrackPort* port, const uint8_t* data, size_t length, bool keyFrame, int64_t timestamp) {
  if (!port || !port->ready()) {
    if (++beforeOpen == 1) log("info", "encoder is producing frames but the video track is not open yet");
    return;
  }
  const int64_t t = timestamp < 1 ? clock.sampleTime() : timestamp;
  if (t >= 1) {
    if (clockBase == 0) clockBase = t;
    uint32_t ts = port->startTimestamp() +
                  port->secondsToTimestamp(static_cast<double>(t - clockBase) / static_cast<double>(sampleFrequency()));
    // Strictly increasing, even for re-encodes of an older picture or two
    // pictures within one clock tick: receivers order frames by it.
    if (haveLastRtpTimestamp && static_cast<int32_t>(ts - lastRtpTimestamp) < 1) ts = lastRtpTimestamp + 1;
    lastRtpTimestamp = ts;
    haveLastRtpTimestamp = true;
    port->setTimestamp(ts);
    if (port->hasReporter() && port->timestampToSeconds(ts - port->lastReportedTimestamp()) > 1.0)
      port->requestReport();
  }
  try {
    port->send(data, length);
  } catch (const std::exception& e) {
    log("warn", std::string("track send failed: ") + e.what());
    return;
  }
  ++sent;
  if (keyFrame) ++keysSent;
  if (sent == 1)
    log("info", "FIRST video frame sent to track (len=" + std::to_string(length) +
                    ", keyframe=" + (keyFrame ? "yes" : "no") + ")");
  else if (keyFrame && keysSent <= 5)
    log("info", "keyframe #" + std::to_string(keysSent) + " sent (len=" + std::to_string(length) + ")");
  else if (sent % 150 == 0)
    log("info", "video: " + std::to_string(sent) + " frames sent, " + std::to_string(keysSent) +
                    " keyframes, rtpTs=" + std::to_string(lastRtpTimestamp));
}

} // namespace dravnok::video
