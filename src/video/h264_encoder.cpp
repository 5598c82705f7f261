#include "video/h264_encoder.h"

#include "video/screen_picture_source.h"

namespace dravnok::video {

H264Encoder::H264Encoder() : H264Encoder(makeEncoderBackend(), std::make_unique<SteadyLoopClock>()) {}

H264Encoder::H264Encoder(std::unique_ptr<EncoderBackend> backend, std::unique_ptr<LoopClock> clock)
    : backend(std::move(backend)), clock(std::move(clock)) {}

H264Encoder::~H264Encoder() { stop(); }

bool H264Encoder::init(const EncoderConfig& config, bool& hardware, std::string& error) {
  hardware = false;
  EncoderConfig even = config;
  even.width = width = evenEncodeDimension(config.width);
  even.height = height = evenEncodeDimension(config.height);
  fps = config.fps;
  startBitrateBps = startBitrate(width, height, fps);
  if (!backend) {
    error = "no H.264 encoder available";
    return false;
  }
  if (!backend->open(even, startBitrateBps, EncodeLoop::qualityTarget, hardware, error)) return false;
  loop = std::make_unique<EncodeLoop>(*backend, *clock, width, height, fps, EncodeLoop::qualityTarget);
  loop->setFrameSink(sink);
  loop->setRateSource(rate);
  return true;
}

std::string H264Encoder::describeSettings() { return backend ? backend->describeSettings() : std::string(); }

void H264Encoder::setFrameSink(FrameSink value) {
  sink = std::move(value);
  if (loop) loop->setFrameSink(sink);
}

void H264Encoder::setRateSource(std::shared_ptr<RateSource> source) {
  rate = std::move(source);
  if (loop) loop->setRateSource(rate);
}

bool H264Encoder::start(capture::ScreenCapturer& capturer) {
  if (!loop) return false;
  loop->stop();
  screenSource = makeScreenPictureSource(capturer, width, height);
  if (!screenSource) return false;
  prepareCapturerForStreaming(capturer);
  return start(*screenSource);
}

bool H264Encoder::start(PictureSource& source) {
  if (!loop) return false;
  loop->start(source);
  return true;
}

void H264Encoder::stop() {
  if (!loop) return;
  loop->stop();
  backend->flush([](const uint8_t*, size_t, bool) {});
}

bool H264Encoder::encodeOneForTest(PictureSource& source, std::vector<uint8_t>& bytes, bool& keyFrame,
                                   double& lumaAverage, std::string& error) {
  bytes.clear();
  keyFrame = false;
  lumaAverage = 0;
  if (!loop) {
    error = "encodeOneForTest: encoder not initialised";
    return false;
  }
  if (backend->asynchronous()) {
    error = "encodeOneForTest: MFT is async (hardware) \u2014 run without DRAVNOK_REMOTE_HWENC";
    return false;
  }
  std::vector<uint8_t> nv12(static_cast<size_t>(width) * height * 3 / 2);
  if (!source.convert(nv12.data())) {
    error = "encodeOneForTest: conversion failed";
    return false;
  }
  const size_t lumaSize = static_cast<size_t>(width) * height;
  uint64_t sum = 0;
  for (size_t i = 0; i < lumaSize; ++i) sum += nv12[i];
  lumaAverage = static_cast<double>(sum) / static_cast<double>(lumaSize);
  auto collect = [&](const uint8_t* data, size_t length, bool key) {
    bytes.insert(bytes.end(), data, data + length);
    keyFrame = keyFrame || key;
  };
  if (!backend->encodeSingle(nv12.data(), collect, error)) return false;
  if (bytes.empty()) {
    error = "encodeOneForTest: encoder produced no output";
    return false;
  }
  return true;
}

void H264Encoder::trackOpened() {
  if (loop) loop->setActive(true);
}

void H264Encoder::requestKeyframe(bool urgent) {
  if (loop) loop->requestKeyFrame(urgent);
}

std::string H264Encoder::statisticsText() { return loop ? loop->statisticsLine() : std::string(); }

} // namespace dravnok::video
