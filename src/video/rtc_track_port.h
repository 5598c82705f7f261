#pragma once
// The video sender's port onto our rtc track, packetizer settings and
// sender reporter. Header-only so that only the session links the rtc layer.
#include "video/video_sender.h"

#include <rtc/rtc.hpp>

#include <memory>

namespace dravnok::video {

class RtcTrackPort final : public VideoTrackPort {
public:
  RtcTrackPort(std::shared_ptr<rtc::Track> track, std::shared_ptr<rtc::RtpPacketizationConfig> config,
               std::shared_ptr<rtc::RtcpSrReporter> reporter)
      : track(std::move(track)), config(std::move(config)), reporter(std::move(reporter)) {}

  bool ready() override { return track && track->isOpen() && config; }
  uint32_t startTimestamp() override { return config->startTimestamp; }
  uint32_t secondsToTimestamp(double seconds) override { return config->secondsToTimestamp(seconds); }
  double timestampToSeconds(uint32_t timestamp) override { return config->timestampToSeconds(timestamp); }
  void setTimestamp(uint32_t timestamp) override { config->timestamp = timestamp; }
  bool hasReporter() override { return reporter != nullptr; }
  uint32_t lastReportedTimestamp() override { return reporter->lastReportedTimestamp(); }
  void requestReport() override { reporter->setNeedsToReport(); }
  void send(const uint8_t* data, size_t length) override {
    track->send(reinterpret_cast<const rtc::byte*>(data), length);
  }

private:
  std::shared_ptr<rtc::Track> track;
  std::shared_ptr<rtc::RtpPacketizationConfig> config;
  std::shared_ptr<rtc::RtcpSrReporter> reporter;
};

} // namespace dravnok::video
