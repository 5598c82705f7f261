// fuzz-deps: dravnok::congestion
// Whatever the viewer sends as RTCP, the parser reads nothing outside the
// buffer, and the controller turns what it recorded into sane targets.
#include "congestion/feedback_monitor.h"
#include "congestion/rate_controller.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

using dravnok::remote::FeedbackMonitor;
using dravnok::remote::RateController;
using dravnok::remote::RateControllerConfig;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr int64_t kNowMs = 1'000'000;
  auto controller = std::make_shared<RateController>(RateControllerConfig{8'000'000, 2'500'000, 250'000, 1920, 1080},
                                                     [](const std::string&) {});
  FeedbackMonitor monitor(42, controller);
  monitor.parseRtcp(reinterpret_cast<const std::byte*>(data), size, kNowMs);
  controller->update(kNowMs + 200);
  monitor.parseRtcp(reinterpret_cast<const std::byte*>(data), size, kNowMs + 5000);
  controller->update(kNowMs + 9000);
  const RateControllerConfig& config = controller->config();
  const uint32_t target = controller->targetBitrate();
  if (target < config.minBps || target > config.maxBps) std::abort();
  return 0;
}
