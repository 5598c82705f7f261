// "--selftest-cc": fixed cases against the pacer, the feedback monitor and
// the rate controller, with hand-made RTCP and chosen clock values.
#include "common/timer_resolution.h"
#include "congestion/adaptive_pacer.h"
#include "congestion/feedback_monitor.h"
#include "congestion/rate_controller.h"
#include "diagnostics/case_report.h"
#include "diagnostics/modes.h"

#include <rtc/message.hpp>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dravnok::diagnostics {
namespace {

using remote::AdaptivePacer;
using remote::FeedbackMonitor;
using remote::RateController;
using Bytes = std::vector<std::byte>;
using SteadyClock = std::chrono::steady_clock;

constexpr uint32_t kSsrc = 42;
constexpr size_t kPacketSize = 1200;
constexpr size_t kBurstPackets = 170;
constexpr double kIdealDrainMs = 408; // 204 000 bytes at 4 Mbps
constexpr size_t kWindowLimit = 16200;

Bytes bytes(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<std::byte>(v));
  return out;
}

Bytes remb(int exponent, uint32_t mantissa) {
  return bytes({0x8F,
                0xCE,
                0x00,
                0x05,
                0,
                0,
                0,
                0,
                0,
                0,
                0,
                0,
                'R',
                'E',
                'M',
                'B',
                0x01,
                exponent << 2 | static_cast<int>(mantissa >> 16 & 3),
                static_cast<int>(mantissa >> 8 & 0xFF),
                static_cast<int>(mantissa & 0xFF),
                0x00,
                0x00,
                0x00,
                0x2A});
}

Bytes receiverReport() {
  Bytes out = bytes({0x81, 0xC9, 0x00, 0x07, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x2A, 0x1A});
  out.resize(32);
  return out;
}

const Bytes kPli = bytes({0x81, 0xCE, 0x00, 0x02, 0, 0, 0, 1, 0, 0, 0, 0x2A});
const Bytes kNack = bytes({0x81, 0xCD, 0x00, 0x03, 0, 0, 0, 1, 0, 0, 0, 0x2A, 0x12, 0x34, 0x00, 0x03});
const Bytes kTruncated = bytes({0x80, 0xC9, 0xFF, 0xFF, 0x01, 0x02, 0x03});

void parse(FeedbackMonitor& monitor, const Bytes& packet, int64_t nowMs) {
  monitor.parseRtcp(packet.data(), packet.size(), nowMs);
}

int64_t steadyMs() { return remote::systemClock()->steadyMs(); }

RateController::LogCallback noLog() { return nullptr; }

std::shared_ptr<RateController> newController() {
  return std::make_shared<RateController>(remote::RateControllerConfig{8'000'000, 2'500'000, 250'000, 1920, 1080},
                                          noLog());
}

rtc::message_vector rtpPackets(size_t count) {
  rtc::message_vector out;
  for (size_t i = 0; i < count; ++i) out.push_back(rtc::make_message(kPacketSize, rtc::Message::Binary));
  return out;
}

std::string formatted(const char* format, auto... values) {
  char text[128];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

// Arrivals at the pacer's far end, in ms from the start of the pacer cases.
class ArrivalLog {
public:
  explicit ArrivalLog(SteadyClock::time_point start) : start_(start) {}

  void add(size_t size) {
    const double ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - start_).count();
    std::lock_guard lock(mutex_);
    arrivals_.push_back({ms, size});
  }

  struct Arrival {
    double ms;
    size_t size;
  };

  std::vector<Arrival> snapshot() const {
    std::lock_guard lock(mutex_);
    return arrivals_;
  }

  size_t count() const {
    std::lock_guard lock(mutex_);
    return arrivals_.size();
  }

  double msSinceStart(SteadyClock::time_point at) const {
    return std::chrono::duration<double, std::milli>(at - start_).count();
  }

private:
  SteadyClock::time_point start_;
  mutable std::mutex mutex_;
  std::vector<Arrival> arrivals_;
};

size_t largestTenMsWindow(const std::vector<ArrivalLog::Arrival>& arrivals) {
  size_t largest = 0;
  for (const auto& from : arrivals) {
    size_t sum = 0;
    for (const auto& other : arrivals) {
      if (other.ms >= from.ms && other.ms < from.ms + 10.0) sum += other.size;
    }
    largest = std::max(largest, sum);
  }
  return largest;
}

void pacerCases(CaseReport& report) {
  ArrivalLog log(SteadyClock::now());
  auto pacer = std::make_shared<AdaptivePacer>(4'000'000);
  const rtc::message_callback send = [&log](rtc::message_ptr packet) { log.add(packet->size()); };

  rtc::message_vector messages = rtpPackets(kBurstPackets);
  messages.push_back(rtc::make_message(40, rtc::Message::Control));
  pacer->outgoing(messages, send);
  report.record(messages.size() == 1 && messages[0] && messages[0]->type == rtc::Message::Control,
                "pacer passes RTCP straight through");

  for (int i = 0; i < 200 && log.count() < kBurstPackets; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto arrivals = log.snapshot();
  report.record(arrivals.size() == kBurstPackets, "pacer delivers every packet",
                std::to_string(arrivals.size()) + "/" + std::to_string(kBurstPackets));

  const double took = arrivals.empty() ? -1.0 : arrivals.back().ms;
  report.record(took > 306.0 && took < 550.8, "pacer drains at the set rate",
                formatted("took %d ms, expected ~%d", static_cast<int>(took), static_cast<int>(kIdealDrainMs)));

  const size_t largest = largestTenMsWindow(arrivals);
  report.record(largest <= kWindowLimit, "pacer never bursts",
                formatted("max %zu B in 10 ms (limit %zu)", largest, kWindowLimit));

  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const size_t before = log.count();
  rtc::message_vector lone = rtpPackets(1);
  const double handedOverMs = log.msSinceStart(SteadyClock::now());
  pacer->outgoing(lone, send);
  for (int i = 0; i < 100 && log.count() == before; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto afterLone = log.snapshot();
  const double delay = afterLone.size() > before ? afterLone[before].ms - handedOverMs : -1.0;
  report.record(delay >= 0 && delay < 20, "pacer sends an isolated packet promptly", formatted("%f ms", delay));
  pacer->stop();
}

void controllerCases(CaseReport& report) {
  {
    auto controller = newController();
    FeedbackMonitor monitor(kSsrc, controller);
    const int64_t t = steadyMs();
    parse(monitor, remb(5, 150000), t);
    controller->update(t + 10);
    const uint32_t target = controller->targetBitrate();
    report.record(target == 2'500'000, "controller holds the start rate under a higher REMB", std::to_string(target));
  }
  {
    auto controller = newController();
    auto pacer = std::make_shared<AdaptivePacer>(4'000'000);
    controller->setPacer(pacer);
    FeedbackMonitor monitor(kSsrc, controller);
    const int64_t t = steadyMs();
    for (int i = 0; i < 8; ++i) {
      parse(monitor, remb(0, 12000), t + 200 * i);
      controller->update(t + 200 * i);
    }
    const uint32_t target = controller->targetBitrate();
    report.record(target == 2'500'000, "a still screen's tiny REMB does not cut the rate", std::to_string(target));
    pacer->stop();
  }
  {
    auto controller = newController();
    auto pacer = std::make_shared<AdaptivePacer>(8'000'000);
    controller->setPacer(pacer);
    FeedbackMonitor monitor(kSsrc, controller);
    const rtc::message_callback discard = [](rtc::message_ptr) {};
    const auto begin = SteadyClock::now();
    for (int cycle = 1; cycle <= 36; ++cycle) {
      rtc::message_vector packets = rtpPackets(12);
      pacer->outgoing(packets, discard);
      std::this_thread::sleep_until(begin + std::chrono::milliseconds(50 * cycle));
      if (cycle % 4 == 0) controller->update(steadyMs());
    }
    const int64_t now = steadyMs();
    parse(monitor, remb(3, 125000), now);
    controller->update(now + 1);
    const uint32_t target = controller->targetBitrate();
    report.record(target == 2'500'000, "a lagging REMB after motion starts does not cut the rate",
                  std::to_string(target));
    pacer->stop();
  }

  report.record(RateController::fpsFor(1'000'000, 1920, 1080) == 10, "low bitrate means fewer frames",
                "1 Mbps -> 10 fps");

  auto controller = newController();
  FeedbackMonitor monitor(kSsrc, controller);
  const int64_t t = steadyMs();
  parse(monitor, receiverReport(), t);
  controller->update(t + 1200);
  const uint32_t target = controller->targetBitrate();
  report.record(target >= 1'740'000 && target <= 1'760'000, "10% loss cuts the target by 0.7x", std::to_string(target));

  parse(monitor, kPli, steadyMs());
  report.record(controller->takeKeyframeRequest(), "a PLI asks for a keyframe");
  report.record(!controller->takeKeyframeRequest(), "the keyframe request is one-shot");

  parse(monitor, kNack, steadyMs());
  report.record(true, "NACK parses");
  parse(monitor, kTruncated, steadyMs());
  report.record(true, "truncated RTCP is ignored");

  report.record(RateController::fpsFor(2'600'000, 1920, 1080) == 30 &&
                    RateController::fpsFor(1'700'000, 1920, 1080) == 20 &&
                    RateController::fpsFor(1'300'000, 1920, 1080) == 15,
                "fps ladder 30/20/15 at 1080p");
}

} // namespace

int runCongestionSelfTest() {
  const FineTimerResolution timer;
  CaseReport report(stderr, "selftest-cc");
  pacerCases(report);
  controllerCases(report);
  return report.finish();
}

} // namespace dravnok::diagnostics
