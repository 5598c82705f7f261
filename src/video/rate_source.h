#pragma once
// What the encode loop reads from congestion control.
#include <cstdint>
#include <memory>

namespace dravnok::video {

class RateSource {
public:
  virtual ~RateSource() = default;
  virtual uint32_t targetBitrate() = 0;
  virtual int32_t targetFrameRate() = 0;
  // One-shot: true once per picture-loss request.
  virtual bool takeKeyframeRequest() = 0;
  virtual int64_t pacerQueueMs() = 0;
};

// Adapts any controller with those four operations, keeping it alive.
template <class Controller> class ControllerRateSource final : public RateSource {
public:
  explicit ControllerRateSource(std::shared_ptr<Controller> controller) : controller(std::move(controller)) {}
  uint32_t targetBitrate() override { return controller->targetBitrate(); }
  int32_t targetFrameRate() override { return controller->targetFrameRate(); }
  bool takeKeyframeRequest() override { return controller->takeKeyframeRequest(); }
  int64_t pacerQueueMs() override { return controller->pacerQueueMs(); }

private:
  std::shared_ptr<Controller> controller;
};

} // namespace dravnok::video
