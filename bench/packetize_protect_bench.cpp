// Throughput of the video send path below the encoder: splitting an access
// unit into RTP packets and encrypting each one. Reports packets per second.
#include "rtc/h264rtppacketizer.hpp"
#include "transport/srtp_session.hpp"

#include <benchmark/benchmark.h>

#include <random>

namespace {

using rtc::impl::SrtpProfile;

// SPS, PPS and one slice of `sliceSize` octets that contain no start code.
rtc::binary accessUnit(size_t sliceSize) {
  rtc::binary out;
  auto add = [&](std::initializer_list<int> head, size_t bodySize) {
    for (int v : {0, 0, 0, 1}) out.push_back(static_cast<std::byte>(v));
    for (int v : head) out.push_back(static_cast<std::byte>(v));
    std::mt19937 random(7);
    for (size_t i = 0; i < bodySize; ++i) out.push_back(static_cast<std::byte>(1 + random() % 255));
  };
  add({0x67, 0x42, 0xE0, 0x1F}, 8);
  add({0x68, 0xCE}, 2);
  add({0x65}, sliceSize);
  return out;
}

void packetizeAndProtect(benchmark::State& state, bool protect, SrtpProfile profile) {
  auto config = std::make_shared<rtc::RtpPacketizationConfig>(42, "bench", 96, 90000);
  rtc::H264RtpPacketizer packetizer(rtc::NalUnit::Separator::LongStartSequence, config);
  rtc::binary material(rtc::impl::SrtpSession::keyingMaterialSize(profile), std::byte{0x42});
  rtc::impl::SrtpSession srtp(profile, material, false);
  const rtc::binary unit = accessUnit(static_cast<size_t>(state.range(0)));

  int64_t packets = 0, octets = 0;
  for (auto _ : state) {
    rtc::message_vector messages{rtc::make_message(rtc::binary(unit))};
    packetizer.outgoing(messages, nullptr);
    for (auto& packet : messages) {
      if (protect && !srtp.protectRtp(*packet)) state.SkipWithError("protect failed");
      octets += static_cast<int64_t>(packet->size());
    }
    packets += static_cast<int64_t>(messages.size());
    config->timestamp += 3000;
  }
  state.SetItemsProcessed(packets);
  state.SetBytesProcessed(octets);
  state.counters["packets/s"] = benchmark::Counter(static_cast<double>(packets), benchmark::Counter::kIsRate);
}

void PacketizeOnly(benchmark::State& state) { packetizeAndProtect(state, false, SrtpProfile::AesCm128HmacSha1_80); }
void PacketizeAndProtectAesCm(benchmark::State& state) {
  packetizeAndProtect(state, true, SrtpProfile::AesCm128HmacSha1_80);
}
void PacketizeAndProtectAesGcm(benchmark::State& state) {
  packetizeAndProtect(state, true, SrtpProfile::AeadAes128Gcm);
}

// A typical inter frame and a screen key frame.
BENCHMARK(PacketizeOnly)->Arg(8'000)->Arg(120'000);
BENCHMARK(PacketizeAndProtectAesCm)->Arg(8'000)->Arg(120'000);
BENCHMARK(PacketizeAndProtectAesGcm)->Arg(8'000)->Arg(120'000);

} // namespace

BENCHMARK_MAIN();
