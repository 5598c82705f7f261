// Data channel throughput between two of our peers on loopback.
// Usage: rtc_throughput_bench [total MiB = 512] [message KiB = 64] [runs = 1]
// Prints the rate by the wall clock and the CPU time the process spent per
// MiB (both peers together), which is the steadier figure on a busy machine.
#include "rtc/transport/loopback_pair.hpp"

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace std::chrono;

namespace {

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int runOnce(size_t totalBytes, size_t messageSize) {
  const size_t highWater = 4 << 20;
  rtc_test::LoopbackPair pair;
  std::atomic<size_t> received{0};
  rtc_test::Waiter done;
  bool finished = false;
  steady_clock::time_point finishedAt;
  // The receiving application keeps its channel: a dropped one closes.
  std::shared_ptr<rtc::DataChannel> incoming;
  pair.answerer->onDataChannel([&](std::shared_ptr<rtc::DataChannel> dc) {
    done.update([&] { incoming = dc; });
    dc->onMessage([&](rtc::message_variant m) {
      size_t total = received += std::get<rtc::binary>(m).size();
      if (total >= totalBytes)
        done.update([&] {
          if (!finished) finishedAt = steady_clock::now();
          finished = true;
        });
    });
  });
  auto channel = pair.offerer->createDataChannel("bench");
  rtc_test::Waiter opened;
  bool isOpen = false;
  channel->onOpen([&] { opened.update([&] { isOpen = true; }); });
  // The sender refills when the queue has drained to half, as an application
  // using the low-threshold event would.
  rtc_test::Waiter drained;
  channel->setBufferedAmountLowThreshold(highWater / 2);
  channel->onBufferedAmountLow([&] { drained.update([] {}); });
  pair.offerer->setLocalDescription();
  if (!opened.waitFor([&] { return isOpen; }, seconds(20))) {
    std::fprintf(stderr, "the channel did not open\n");
    return 1;
  }

  rtc::binary message(messageSize, std::byte{0x5a});
  const double cpuStart = cpuSeconds();
  const auto start = steady_clock::now();
  size_t sent = 0;
  while (sent < totalBytes) {
    if (channel->bufferedAmount() > highWater) {
      drained.waitFor([&] { return channel->bufferedAmount() <= highWater / 2; }, milliseconds(50));
      continue;
    }
    // false only means the message was queued; a failure throws.
    try {
      channel->send(message);
    } catch (const std::runtime_error& e) {
      std::fprintf(stderr, "send failed: %s\n", e.what());
      return 1;
    }
    sent += messageSize;
  }
  if (!done.waitFor([&] { return finished; }, seconds(120))) {
    std::fprintf(stderr, "only %zu of %zu bytes arrived\n", received.load(), totalBytes);
    return 1;
  }
  const double cpu = cpuSeconds() - cpuStart;
  const double seconds = duration<double>(finishedAt - start).count();
  const double mib = double(received.load()) / 1048576.0;
  std::printf("peer to peer, %zu KiB messages: %.1f MB/s (%.0f MiB in %.2f s), CPU %.2f s = %.1f ms per MiB\n",
              messageSize >> 10, double(received.load()) / seconds / 1e6, mib, seconds, cpu, cpu * 1000 / mib);
  std::fflush(stdout);
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  const size_t totalBytes = size_t(argc > 1 ? std::atoi(argv[1]) : 512) << 20;
  const size_t messageSize = size_t(argc > 2 ? std::atoi(argv[2]) : 64) << 10;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 1;
  for (int i = 0; i < runs; ++i) {
    if (int rc = runOnce(totalBytes, messageSize)) return rc;
  }
  return 0;
}
