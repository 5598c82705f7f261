// Data channel throughput between two of our peers on loopback.
// Usage: rtc_throughput_bench [total MiB = 512] [message KiB = 64]
#include "rtc/transport/loopback_pair.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace std::chrono;

int main(int argc, char** argv) {
  const size_t totalBytes = size_t(argc > 1 ? std::atoi(argv[1]) : 512) << 20;
  const size_t messageSize = size_t(argc > 2 ? std::atoi(argv[2]) : 64) << 10;
  const size_t highWater = 4 << 20;

  rtc_test::LoopbackPair pair;
  std::atomic<size_t> received{0};
  std::atomic<bool> done{false};
  steady_clock::time_point finished;
  pair.answerer->onDataChannel([&](std::shared_ptr<rtc::DataChannel> dc) {
    dc->onMessage([&, dc](rtc::message_variant m) {
      size_t total = received += std::get<rtc::binary>(m).size();
      if (total >= totalBytes && !done.exchange(true)) finished = steady_clock::now();
    });
  });
  auto channel = pair.offerer->createDataChannel("bench");
  rtc_test::Waiter opened;
  bool isOpen = false;
  channel->onOpen([&] { opened.update([&] { isOpen = true; }); });
  pair.offerer->setLocalDescription();
  if (!opened.waitFor([&] { return isOpen; }, seconds(20))) {
    std::fprintf(stderr, "the channel did not open\n");
    return 1;
  }

  rtc::binary message(messageSize, std::byte{0x5a});
  auto start = steady_clock::now();
  size_t sent = 0;
  while (sent < totalBytes) {
    if (channel->bufferedAmount() > highWater) {
      std::this_thread::sleep_for(microseconds(200));
      continue;
    }
    if (!channel->send(message)) {
      std::fprintf(stderr, "send failed\n");
      return 1;
    }
    sent += messageSize;
  }
  while (!done) std::this_thread::sleep_for(milliseconds(1));
  double seconds = duration<double>(finished - start).count();
  std::printf("peer to peer, %zu KiB messages: %.1f MB/s (%zu MiB in %.2f s)\n", messageSize >> 10,
              double(received.load()) / seconds / 1e6, received.load() >> 20, seconds);
  return 0;
}
