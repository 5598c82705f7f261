// The congestion rules against a clock the tests drive: the feedback
// monitor's reading of RTCP, the rate controller's control steps as tables of
// scenarios, and the pacer's output times.
#include "congestion/adaptive_pacer.h"
#include "congestion/feedback_monitor.h"
#include "congestion/rate_controller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <string_view>
#include <thread>
#include <tuple>

namespace dravnok::remote {
namespace {

constexpr int64_t kStartMs = 1'000'000;
constexpr int64_t kT0 = kStartMs + 100;
constexpr int64_t kMs = 1'000'000;
// 2026-01-01 in 100 ns units since 1970.
constexpr int64_t kWall = 1'767'225'600LL * 10'000'000;
constexpr RateControllerConfig kConfig{8'000'000, 2'500'000, 250'000, 1920, 1080};

// Every timed wait jumps the clock to its deadline, so a worker runs through
// its schedule at full speed and at exact times; `lateNs` makes one wait
// overshoot as a descheduled thread would, `frozen` makes waits last until
// their owner stops.
class ManualClock final : public Clock {
public:
  int64_t steadyNs() override { return now.load(); }
  int64_t wallTicks() override { return kWall; }
  void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, int64_t deadlineNs,
                 const std::function<bool()>& done) override {
    if (frozen) return wake.wait(lock, done);
    if (done()) return;
    const int64_t to = deadlineNs + lateNs.exchange(0);
    for (int64_t was = now.load(); was < to && !now.compare_exchange_weak(was, to);) {
    }
  }

  std::atomic<int64_t> now{kStartMs * kMs};
  std::atomic<int64_t> lateNs{0};
  std::atomic<bool> frozen{false};
};

// RTCP built byte by byte.
struct Rtcp {
  std::vector<std::byte> bytes;
  Rtcp& u8(uint32_t v) { return bytes.push_back(static_cast<std::byte>(v & 0xFF)), *this; }
  Rtcp& u16(uint32_t v) { return u8(v >> 8).u8(v); }
  Rtcp& u32(uint32_t v) { return u16(v >> 16).u16(v); }
  Rtcp& zeros(size_t n) { return bytes.resize(bytes.size() + n), *this; }
  Rtcp& header(uint32_t fmt, uint32_t pt, uint32_t words) { return u8(0x80 | fmt).u8(pt).u16(words); }
  Rtcp& block(uint32_t ssrc, uint32_t fraction, uint32_t lsr = 0, uint32_t dlsr = 0) {
    return u32(ssrc).u8(fraction).zeros(11).u32(lsr).u32(dlsr);
  }
  Rtcp& operator+(const Rtcp& other) {
    bytes.insert(bytes.end(), other.bytes.begin(), other.bytes.end());
    return *this;
  }
};

Rtcp rr(uint32_t fraction, uint32_t ssrc = 42, uint32_t lsr = 0, uint32_t dlsr = 0) {
  return Rtcp().header(1, 201, 7).u32(0).block(ssrc, fraction, lsr, dlsr);
}
Rtcp remb(uint32_t exponent, uint32_t mantissa, std::string_view tag = "REMB") {
  // Exactly as long as its fields; the SSRC list is not read.
  Rtcp out = Rtcp().header(15, 206, 4).u32(0).u32(0);
  for (char c : tag) out.u8(static_cast<uint8_t>(c));
  return out.u8(1).u8(exponent << 2 | (mantissa >> 16 & 3)).u16(mantissa & 0xFFFF);
}
Rtcp pli(uint32_t fmt = 1) { return Rtcp().header(fmt, 206, 2).u32(1).u32(42); }
Rtcp nack(std::initializer_list<uint32_t> masks) {
  Rtcp out = Rtcp().header(1, 205, 2 + static_cast<uint32_t>(masks.size())).u32(1).u32(42);
  for (uint32_t mask : masks) out.u16(0x1234).u16(mask);
  return out;
}

// RTP packets numbered from `firstId` in their first byte.
rtc::message_vector burst(int count, int firstId = 0, size_t size = 1200) {
  rtc::message_vector out;
  for (int i = 0; i < count; ++i) {
    out.push_back(rtc::make_message(size, rtc::Message::Binary));
    (*out.back())[0] = static_cast<std::byte>(firstId + i);
  }
  return out;
}

void waitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 5000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(condition());
}

class Congestion : public ::testing::Test {
protected:
  void make(RateControllerConfig config = kConfig) {
    controller = std::make_shared<RateController>(
        config, [this](const std::string& l) { lines.push_back(l); }, clock);
    pacer = nullptr;
    lines.clear();
  }
  RtcpFeedback& fb() { return controller->feedback(); }
  void parse(const Rtcp& packet, int64_t nowMs = kT0) {
    // An exactly sized heap copy, so that the sanitizers see any read past it.
    const std::vector<std::byte> copy(packet.bytes);
    FeedbackMonitor(42, controller, clock).parseRtcp(copy.data(), copy.size(), nowMs);
  }
  // What the monitor records for one report block about our stream.
  void report(int64_t atMs, uint32_t fraction, int64_t rttMs = -1) {
    fb().fractionLost = fraction;
    fb().rttMs = rttMs;
    fb().lastFeedbackMs = atMs;
    fb().feedbackSeen = true;
    fb().receiverReports++;
  }
  // A pacer on its own clock, which drains whatever it gets at once.
  void attachPacer() {
    pacer = std::make_shared<AdaptivePacer>(4'000'000, std::make_shared<ManualClock>());
    controller->setPacer(pacer);
  }
  void traffic(int packets) {
    const uint64_t goal = pacer->packetsSent() + packets;
    rtc::message_vector batch = burst(packets);
    pacer->outgoing(batch, [](rtc::message_ptr) {});
    waitFor([&] { return pacer->packetsSent() == goal; });
  }
  // Arrival times at the network side of the pacer, in ns of the pacer's clock.
  rtc::message_callback network() {
    return [this](rtc::message_ptr packet) {
      std::lock_guard lock(arrivalsMutex);
      arrivals.push_back({clock->steadyNs(), std::to_integer<int>((*packet)[0])});
    };
  }
  // The most packets handed over at one instant.
  size_t largestInstant(size_t from = 0) {
    std::lock_guard lock(arrivalsMutex);
    size_t largest = 0;
    for (size_t i = from, run = 0; i < arrivals.size(); ++i) {
      run = i > from && arrivals[i].first == arrivals[i - 1].first ? run + 1 : 1;
      largest = std::max(largest, run);
    }
    return largest;
  }

  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::vector<std::string> lines;
  std::shared_ptr<RateController> controller;
  std::shared_ptr<AdaptivePacer> pacer;
  std::mutex arrivalsMutex;
  std::vector<std::pair<int64_t, int>> arrivals;
};

// --- Feedback monitor -------------------------------------------------------

struct Parsed {
  const char* name;
  Rtcp packet;
  uint32_t reports = 0, fraction = 0;
  int64_t rtt = -1;
  uint64_t remb = 0;
  uint32_t plis = 0, nacks = 0;
  bool seen = true;
};

TEST_F(Congestion, FeedbackMonitorReadsEachKindOfRtcp) {
  const uint32_t now = compactNtpTime(kWall);
  Rtcp sender; // reading its blocks from byte 8, as in a receiver report, finds SSRC 42 with 11
  sender.header(1, 200, 12).u32(7).u32(42).u8(11).zeros(15).block(42, 77);
  const std::vector<Parsed> cases = {
      {"our block", rr(26), 1, 26},
      {"another stream's block only counts as feedback", rr(200, 43, 5)},
      {"sender report blocks follow the sender info", sender, 1, 77},
      {"every matching block counts", Rtcp().header(3, 201, 19).u32(0).block(42, 10).block(9, 99).block(42, 30), 2, 30},
      {"a block beyond the length is not read", Rtcp().header(2, 201, 7).u32(0).block(42, 5).block(42, 250), 1, 5},
      {"round trip: 1 s held, 250 ms on the path", rr(0, 42, now - 0x14000, 0x10000), 1, 0, 250},
      {"remb", remb(5, 150000), 0, 0, -1, 4'800'000},
      {"remb at the largest exponent that fits", remb(45, 0x3FFFF), 0, 0, -1, uint64_t{0x3FFFF} << 45},
      {"remb beyond 64 bits saturates", remb(46, 1), 0, 0, -1, std::numeric_limits<uint64_t>::max()},
      {"not a remb", remb(5, 1000, "ABCD")},
      {"remb too short", Rtcp().header(15, 206, 3).u32(0).u32(0).u32(0x52454D42)},
      {"picture loss", pli(1), 0, 0, -1, 0, 1},
      {"full intra request", pli(4), 0, 0, -1, 0, 1},
      {"slice loss is no key-frame request", pli(2)},
      {"nack: the id and each mask bit", nack({0xFFFF, 0x8001}), 0, 0, -1, 0, 0, 20},
      {"nack too short for an entry", Rtcp().header(1, 205, 2).u32(1).u32(42)},
      {"transport feedback that is no nack", Rtcp().header(3, 205, 3).u32(1).u32(42).u32(0xFFFF)},
      {"length past the buffer", Rtcp().u8(0x80).u8(0xC9).u8(0xFF).u8(0xFF).u8(1).u8(2).u8(3), 0, 0, -1, 0, 0, 0,
       false},
      {"a packet of only a header is feedback", Rtcp().header(0, 201, 0)},
      {"shorter than a header", Rtcp().u8(0x81).u8(0xC9).u8(0), 0, 0, -1, 0, 0, 0, false},
      {"a packet claiming more than it has ends the compound", rr(26) + Rtcp().header(1, 206, 9).u32(1).u32(42), 1, 26},
      {"a wrong version ends the compound", pli() + Rtcp().u8(0x41).u8(206).u16(2).u32(1).u32(42) + nack({1}), 0, 0, -1,
       0, 1},
      {"a well-formed compound is read to its end", Rtcp().header(1, 202, 1).u32(42) + nack({0}), 0, 0, -1, 0, 0, 1},
  };
  for (const Parsed& c : cases) {
    SCOPED_TRACE(c.name);
    make();
    parse(c.packet, kT0 + 7);
    EXPECT_EQ(std::tuple(fb().receiverReports.load(), fb().fractionLost.load(), fb().rttMs.load(), fb().rembBps.load(),
                         fb().rembAtMs.load(), fb().pictureLossCount.load(), fb().nackCount.load(),
                         fb().lastFeedbackMs.load(), fb().feedbackSeen.load()),
              std::tuple(c.reports, c.fraction, c.rtt, c.remb, c.remb ? kT0 + 7 : 0, c.plis, c.nacks,
                         c.seen ? kT0 + 7 : kStartMs, c.seen));
    EXPECT_EQ(controller->takeKeyframeRequest(), c.plis != 0);
    EXPECT_FALSE(controller->takeKeyframeRequest()); // one-shot
  }
}

TEST_F(Congestion, RoundTripComesFromTheMiddleOfTheNtpTimeUpToTenSeconds) {
  // 1970-01-01 is NTP second 0x83AA7E80; the compact time runs on across the
  // era's wrap in February 2036.
  const int64_t eraEnd = 2'085'978'496LL * 10'000'000;
  const std::pair<int64_t, uint32_t> ntp[] = {
      {0, 0x7E800000}, {5'000'000, 0x7E808000}, {eraEnd - 10'000'000, 0xFFFF0000}, {eraEnd + 10'000'000, 0x10000}};
  for (const auto& [ticks, compact] : ntp) EXPECT_EQ(compactNtpTime(ticks), compact) << ticks;

  // 10 s after the wrap, where the compact time is small: a report that
  // echoes no sender report (0) must not pass for a round trip of 8.5 s.
  const uint32_t now = compactNtpTime(eraEnd + 100'000'000) - 0x18000; // the viewer held the report 1.5 s
  const std::pair<uint32_t, int64_t> rtt[] = {
      {now - 0x8000, 500}, {now - 0x9FFFF, 9999}, {now - 0xA0000, -1}, {now + 0x100, -1}, {0, -1}};
  for (const auto& [lsr, ms] : rtt) EXPECT_EQ(roundTripMs(lsr, 0x18000, eraEnd + 100'000'000), ms) << lsr;
}

TEST_F(Congestion, IncomingReadsOnlyWholeControlMessagesAndPassesEverythingOn) {
  make();
  clock->now += 123 * kMs;
  const auto& b = pli().bytes;
  rtc::message_vector messages{rtc::make_message(b.begin(), b.end(), rtc::Message::Control),
                               rtc::make_message(b.begin(), b.end(), rtc::Message::Binary), nullptr,
                               rtc::make_message(b.begin(), b.begin() + 7, rtc::Message::Control)};
  const rtc::message_vector before = messages;
  FeedbackMonitor(42, controller, clock).incoming(messages, nullptr);
  FeedbackMonitor(42, nullptr, clock).incoming(messages, nullptr); // records nothing, and does not crash
  EXPECT_EQ(messages, before);
  EXPECT_EQ(fb().pictureLossCount.load(), 1u);
  EXPECT_EQ(fb().lastFeedbackMs.load(), kStartMs + 123);
}

// --- Rate controller --------------------------------------------------------

double grow(double seconds) { return std::pow(1.08, seconds); }

// One control step: `packets` through the pacer, a report (unless `fraction`
// is negative) and an update at `at` ms after kT0; the target is expected at
// `factor` times the previous.
struct Step {
  int64_t at;
  int fraction = 0;
  int64_t rtt = -1;
  uint32_t plis = 0;
  double factor = 1;
  int32_t fps = 0; // 0: not checked
  int packets = 0;
  uint32_t nacks = 0;
};

struct Scenario {
  const char* name;
  std::vector<Step> steps;
  uint32_t startBps = 2'500'000;
  uint32_t maxBps = 8'000'000;
  bool paced = false;
};

TEST_F(Congestion, RateControllerFollowsReceiverReports) {
  const double cap = 3'200'000 / (2'500'000 * grow(2) * std::sqrt(1.08));
  // clang-format off
  const std::vector<Scenario> scenarios = {
      {"loss above a tenth cuts by 0.7 at most once a second",
       {{0, 26, -1, 0, 0.7, 20}, {999, 26}, {1000, 26, -1, 0, 0.7}, {2000, 25}}},
      {"clean reports grow by their spacing, the first by two seconds, up to the maximum",
       {{0, 0, -1, 0, grow(2)}, {500, 5, -1, 0, grow(0.5)}, {1500, 6}, {20'000, 0, -1, 0, cap}}, 2'500'000, 3'200'000},
      {"two reports of a round trip above min + max(min, 100) cut by 0.85; a normal or unknown one ends the run",
       {{0, 0, 50, 0, grow(2)}, {1000, 0, 201, 0, grow(1)}, {2000, 0, 201, 0, 0.85}, {3000, 0, 150, 0, grow(1)},
        {4000, 0, 201, 0, grow(1)}, {5000, 0, -1, 0, grow(1)}, {6000, 0, 201, 0, grow(1)}}},
      {"the minimum round trip is taken again 30 s after it was last lower",
       {{0, 0, 50, 0, grow(2)}, {20'000, 0, 50, 0, grow(2)}, {29'000, 0, 300, 0, grow(2)}, {30'000, 0, 300, 0, 0.85},
        {31'000, 0, 300, 0, grow(1)}}},
      {"a round trip of 0 ms is a measurement",
       {{0, 0, 0, 0, grow(2)}, {1000, 0, 101, 0, grow(1)}, {2000, 0, 101, 0, 0.85}}},
      {"two picture losses within 2 s cut, but not in the first 3 s after the first report",
       {{0, 0, -1, 0, grow(2)}, {1000, 0, -1, 2, grow(1)}, {3000, 0, -1, 2, grow(2)}, {3001, 0, -1, 0, 0.85},
        {5000, 0, -1, 0, 0.85}, {5001, 0, -1, 0, grow(0.001)}, {6000, 0, -1, 1, grow(0.999)},
        {8100, 0, -1, 1, grow(2)}}},
      {"the frame rate falls at once and rises one step 3 s after clearing it by 20 %",
       {{0, 26, -1, 0, 0.7, 20}, {1000, 0, -1, 0, grow(1)}, {2000, 0, -1, 0, grow(1)}, {3000, 0, -1, 0, grow(1)},
        {4000, 0, -1, 0, grow(1)}, {5000, 0, -1, 0, grow(1)}, {6000, 0, -1, 0, grow(1)},
        {7000, 0, -1, 0, grow(1), 20}, {9999, -1, -1, 0, 1, 20}, {10'000, -1, -1, 0, 1, 30}}},
      {"a dip below the headroom restarts the frame-rate wait",
       {{0, 26, -1, 0, 0.7}, {1000, 0, -1, 0, grow(1)}, {2000, 0, -1, 0, grow(1)}, {3000, 0, -1, 0, grow(1)},
        {4000, 0, -1, 0, grow(1)}, {5000, 0, -1, 0, grow(1)}, {6000, 0, -1, 0, grow(1)}, {7000, 0, -1, 0, grow(1)},
        {8000, 0, -1, 2, 0.85}, {9000, 0, -1, 0, grow(1)}, {10'000, 0, -1, 0, grow(1), 20},
        {11'000, 0, -1, 0, grow(1), 20}, {13'999, -1, -1, 0, 1, 20}, {14'000, -1, -1, 0, 1, 30}}},
      {"the frame rate rises one step at a time",
       {{0, 0, -1, 0, grow(2), 10}, {2000, 0, -1, 0, grow(2)}, {4000, 0, -1, 0, grow(2)},
        {6000, 0, -1, 0, grow(2), 10}, {7000, -1, -1, 0, 1, 15}}, 1'000'000},
      {"nacks for more than one in ten packets cut by 0.85 (too little traffic to grow)",
       {{0, 0, -1, 0, 1, 0, 100}, {1000, 0, -1, 0, 0.85, 0, 100, 11}, {2000, 0, -1, 0, 1, 0, 100, 10}},
       2'500'000, 8'000'000, true},
      {"before the first report the rate creeps by 1 % an update after 3 s",
       {{2900, -1}, {3100, -1, -1, 0, 1.01}, {3300, -1, -1, 0, 1.01}}},
      {"but not while idle", {{3100, -1}}, 2'500'000, 8'000'000, true},
  };
  // clang-format on
  for (const Scenario& s : scenarios) {
    make({s.maxBps, s.startBps, 250'000, 1920, 1080});
    if (s.paced) attachPacer();
    double expected = s.startBps;
    for (const Step& step : s.steps) {
      SCOPED_TRACE(std::string(s.name) + " at +" + std::to_string(step.at));
      if (step.packets) traffic(step.packets);
      fb().nackCount += step.nacks;
      fb().pictureLossCount += step.plis;
      if (step.fraction >= 0) report(kT0 + step.at, step.fraction, step.rtt);
      controller->update(kT0 + step.at);
      expected *= step.factor;
      EXPECT_NEAR(controller->targetBitrate(), expected, 2);
      EXPECT_EQ(step.fps ? controller->targetFrameRate() : 0, step.fps);
    }
  }
}

// The frame-rate ladder steps at four hundredths of a bit per pixel.
TEST_F(Congestion, TheFrameRateLadderTheNormalisedConfigurationAndAMissingLogThatIsNotCalled) {
  const std::pair<uint32_t, int32_t> ladder[] = {{2'488'320, 30}, {2'488'319, 20}, {1'658'880, 20},
                                                 {1'658'879, 15}, {1'244'160, 15}, {1'244'159, 10}};
  for (const auto& [bps, fps] : ladder) EXPECT_EQ(RateController::fpsFor(bps, 1920, 1080), fps) << bps;
  EXPECT_EQ(RateController::fpsFor(2, 0, 1080), 30); // a degenerate size counts as one pixel
  RateController low({1'000'000, 50'000, 100'000, 640, 480}, nullptr, clock);
  EXPECT_EQ(low.config().minBps, 150'000u);
  EXPECT_EQ(low.targetBitrate(), 150'000u);
  EXPECT_EQ(RateController({3'000'000, 9'000'000, 250'000, 640, 480}, nullptr).targetBitrate(), 3'000'000u);
  RateController inverted({100'000, 1'000'000, 400'000, 640, 480}, nullptr, clock);
  EXPECT_EQ(inverted.config().maxBps, 400'000u);
  EXPECT_EQ(inverted.targetBitrate(), 400'000u);
  inverted.feedback().rembBps = 1;
  inverted.feedback().rembAtMs = kT0;
  inverted.update(kT0);
}

// Updates every 200 ms up to `until` ms after kT0 (or one update there),
// each after `packets` through the pacer, the last after a report unless
// `fraction` is negative; then the target is `bps`, and the frame rate and
// the pacer's rate are as given unless 0.
struct Stretch {
  int64_t until;
  int packets;
  int fraction;
  double bps;
  int32_t fps = 0;
  uint32_t pacerBps = 0;
  bool once = false;
};

TEST_F(Congestion, RateControllerWatchesWhatLeavesThePacer) {
  const double afterFall = 2'500'000 * std::pow(0.5, 3.1);
  // clang-format off
  const std::pair<const char*, std::vector<Stretch>> stories[] = {
      {"no growth while the encoder sends less than half the target: 26 packets an update are 1.248 Mbps over "
       "the last five updates, 27 are 1.296",
       {{1200, 26, 0, 2'500'000}, {2400, 27, 0, 2'500'000 * grow(1.2)}}},
      {"feedback silence while sending halves the target per second down to the pacer's floor, but keeps the "
       "estimate for when feedback returns (3.9 % loss: neither cut nor growth)",
       {{0, 5, 10, 2'500'000}, {3000, 5, -1, 2'500'000, 30}, {4000, 5, -1, 1'250'000, 15},
        {5000, 5, -1, 625'000, 10}, {7000, 5, -1, 250'000, 10, 500'000}, {7200, 5, 10, 2'500'000, 0, 4'000'000}}},
      {"silence while nothing is sent is no congestion", {{0, 0, 10, 2'500'000}, {6000, 0, -1, 2'500'000}}},
      {"falls of more than 30 % are taken once a second: two seconds of silence at once give a quarter, then "
       "70 % of the previous target, not 2^-2.9",
       {{0, 5, 10, 2'500'000}, {800, 5, -1, 2'500'000}, {5000, 100, -1, 625'000, 0, 0, true},
        {5900, 5, -1, 437'500, 0, 0, true}, {6100, 5, -1, afterFall, 0, 0, true}}},
      // Silence halves the target while packets leave, and an idle second
      // gives the estimate back: the target leaps over the headroom without
      // a dip below it.
      {"a fall of the frame rate restarts its raise wait",
       {{0, 5, 10, 2'500'000}, {3200, 5, -1, 2'500'000 * std::pow(0.5, 0.2), 20}, {4000, 0, -1, 2'500'000, 15},
        {4400, 5, -1, 2'500'000 * std::pow(0.5, 1.4), 10}, {7000, 0, -1, 2'500'000, 10},
        {8200, 0, -1, 2'500'000, 15}}},
  };
  // clang-format on
  for (const auto& [name, stretches] : stories) {
    make();
    attachPacer();
    int64_t t = 0;
    for (const Stretch& run : stretches) {
      SCOPED_TRACE(std::string(name) + " until +" + std::to_string(run.until));
      for (t = run.once ? run.until : t; t <= run.until; t += 200) {
        if (t == run.until && run.fraction >= 0) report(kT0 + t, run.fraction);
        if (run.packets) traffic(run.packets);
        controller->update(kT0 + t);
      }
      EXPECT_NEAR(controller->targetBitrate(), run.bps, 1);
      EXPECT_EQ(std::pair(run.fps ? controller->targetFrameRate() : 0, run.pacerBps ? pacer->rateBps() : 0),
                std::pair(run.fps, run.pacerBps));
    }
  }
}

TEST_F(Congestion, PacerRateCannotWrapAndItsQueueIsCountedInMilliseconds) {
  make({4'000'000'000u, 3'000'000'000u, 250'000, 1920, 1080});
  attachPacer();
  EXPECT_EQ(pacer->rateBps(), std::numeric_limits<uint32_t>::max());
  make();
  EXPECT_EQ(controller->pacerQueueMs(), 0);
  auto frozen = std::make_shared<ManualClock>();
  frozen->frozen = true;
  pacer = std::make_shared<AdaptivePacer>(1'000'000, frozen);
  controller->setPacer(pacer);
  rtc::message_vector batch = burst(833);
  batch.push_back(burst(1, 0, 399)[0]);
  pacer->outgoing(batch, [](rtc::message_ptr) {});
  EXPECT_EQ(controller->pacerQueueMs(), 1999); // 999 999 bytes at 4 Mbps
}

TEST_F(Congestion, LogsTheFirstFreshRembOnceAndTheFiguresEveryFiveSecondsWithTheStatistics) {
  make();
  clock->frozen = true; // the controller's thread waits until it is stopped
  controller->start();
  controller->stop();
  controller->setStatsProvider([] { return std::string(300, 's'); });
  parse(remb(0, 12000), kT0 - 4999);
  controller->update(kT0);
  parse(remb(0, 12000), kT0 + 4899);
  controller->update(kT0 + 4899);
  controller->update(kT0 + 4900); // 5 s after the start
  fb().rembBps = std::numeric_limits<uint64_t>::max();
  fb().nackCount = std::numeric_limits<uint32_t>::max();
  fb().pictureLossCount = 7;
  report(kT0 + 9899, 26, 9999);
  controller->update(kT0 + 9899);
  controller->update(kT0 + 9900);
  const std::string stats = " | " + std::string(300, 's');
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "cc: first REMB 12 kbps",
                       "cc: target=2550kbps fps=30 remb=12kbps loss=0.0% rtt=-1ms egress=0kbps pacerQ=0ms nacks=0 "
                       "plis=0" +
                           stats,
                       "cc: target=1785kbps fps=20 remb=18446744073709551kbps loss=10.2% rtt=9999ms egress=0kbps "
                       "pacerQ=0ms nacks=4294967295 plis=7" +
                           stats}));

  make(); // a REMB 5 s old is not logged
  fb().rembBps = 1'000'000;
  fb().rembAtMs = kT0;
  controller->update(kT0 + 5000);
  EXPECT_EQ(lines.size(), 1u);
}

// --- Pacer ------------------------------------------------------------------

TEST_F(Congestion, PacerDrainsAtTheRateInOrderAndALatePassReleasesNoMoreThanItsCapPlusOnePacket) {
  // The cap is 20 ms of the rate and never less than 2600 bytes: two packets
  // of 1300 use it up exactly. Other messages pass at once.
  const std::tuple<uint32_t, int64_t, size_t, size_t, int64_t> cases[] = {
      {4'000'000, 0, 1200, 1, 406}, {4'000'000, 100, 1200, 9, 488}, {100'000, 1000, 1300, 2, 9688}};
  for (const auto& [rate, lateMs, size, most, endMs] : cases) {
    arrivals.clear();
    clock->now = kStartMs * kMs;
    clock->lateNs = lateMs * kMs;
    AdaptivePacer pacer(rate, clock);
    rtc::message_vector messages = burst(100, 0, size);
    auto control = rtc::make_message(40, rtc::Message::Control);
    auto text = rtc::make_message(10, rtc::Message::String);
    messages.push_back(control);
    for (auto& m : burst(70, 100, size)) messages.push_back(m);
    messages.push_back(text);
    pacer.outgoing(messages, network());
    EXPECT_EQ(messages, (rtc::message_vector{control, text}));
    waitFor([&] { return pacer.packetsSent() == 170; }); // each one after its arrival
    for (int i = 0; i < 170; ++i) ASSERT_EQ(arrivals[i].second, i);
    EXPECT_EQ(arrivals.back().first - kStartMs * kMs, endMs * kMs) << rate;
    EXPECT_EQ(largestInstant(), most) << rate;
    EXPECT_EQ(std::tuple(pacer.packetsSent(), pacer.bytesSent(), pacer.queuedBytes(), pacer.rateBps()),
              std::tuple(uint64_t{170}, uint64_t{170 * size}, 0u, std::max(rate, AdaptivePacer::kMinRateBps)));
  }
}

TEST_F(Congestion, IdleTimeEarnsThePacerNoCreditButALonePacketLeavesAtOnce) {
  AdaptivePacer pacer(4'000'000, clock);
  // Each lone packet leaves at the first pass; a debt carried over idle
  // time would hold back the sixth.
  for (int i = 0; i < 6; ++i) {
    clock->now += 50 * kMs;
    const int64_t handedOver = clock->steadyNs();
    rtc::message_vector one = burst(1, i);
    pacer.outgoing(one, network());
    waitFor([&] { return pacer.packetsSent() == static_cast<uint64_t>(i + 1); });
    EXPECT_EQ(arrivals[i].first - handedOver, 2 * kMs) << i;
  }
  clock->now += 50 * kMs;
  rtc::message_vector messages = burst(20, 6);
  pacer.outgoing(messages, network());
  waitFor([&] { return pacer.packetsSent() == 26; });
  EXPECT_EQ(largestInstant(6), 1u); // not 50 ms' worth at once
}

TEST(CongestionPacerStop, DropsTheQueueReleasesTheTransportAndPassesEverythingAfterwards) {
  AdaptivePacer pacer(200'000); // 25 000 bytes a second: the queue outlives the test
  auto token = std::make_shared<int>(0);
  std::atomic<int> delivered{0};
  rtc::message_vector messages = burst(100);
  pacer.outgoing(messages, [token, &delivered](rtc::message_ptr) { ++delivered; });
  waitFor([&] { return delivered.load() >= 1; });
  pacer.stop();
  EXPECT_EQ(pacer.queuedBytes(), 0u);
  EXPECT_EQ(token.use_count(), 1);

  messages = burst(3);
  pacer.outgoing(messages, [](rtc::message_ptr) { FAIL() << "nothing is paced after stop"; });
  EXPECT_EQ(messages.size(), 3u);

  // From the send callback itself, which must not join its own thread.
  auto self = std::make_shared<AdaptivePacer>(8'000'000);
  std::atomic<bool> calling{false}, stopped{false};
  messages = burst(50);
  self->outgoing(messages, [&](rtc::message_ptr) {
    if (!calling.exchange(true)) self->stop(), stopped = true;
  });
  waitFor([&] { return stopped.load(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20)); // let the worker leave
}

} // namespace
} // namespace dravnok::remote
