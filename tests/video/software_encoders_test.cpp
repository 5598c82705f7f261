// What the session needs of every encoder it may run: baseline with IDR
// only on request and parameter sets with each, four-byte start codes, one
// access unit per picture, and a stream the self-test's decoder reads back.
#include "video/annexb.h"
#include "video/decode_back.h"
#include "video/encoder_backend.h"
#include "video/first_available_encoder.h"
#include "video/latest_pictures_queue.h"
#include "video/openh264_encoder.h"

#include "loop_fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace dravnok::video {
namespace {

// NAL unit types after each four-byte start code; fails on short codes.
std::vector<int> nalTypes(const std::vector<uint8_t>& au) {
  std::vector<int> types;
  for (size_t i = 0; i + 4 < au.size(); ++i) {
    if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) {
      EXPECT_TRUE(i > 0 && au[i - 1] == 0) << "three-byte start code at " << i;
      types.push_back(au[i + 3] & 0x1f);
    }
  }
  return types;
}

// A picture with detail, moved by `shift` pixels per frame.
std::vector<uint8_t> picture(int shift) {
  std::vector<uint8_t> nv12(320 * 176 * 3 / 2, 128);
  for (int y = 0; y < 176; ++y)
    for (int x = 0; x < 320; ++x) nv12[y * 320 + x] = static_cast<uint8_t>(((x + shift) * 7 ^ y * 13) & 0xff);
  return nv12;
}

class SoftwareEncoder : public ::testing::TestWithParam<std::pair<const char*, EncoderFactory>> {};

TEST_P(SoftwareEncoder, BaselineIdrOnRequestOnlyWithLongStartCodesThatDecodeBack) {
  auto encoder = GetParam().second();
  bool hardware = false;
  std::string error;
  ASSERT_TRUE(encoder->open({320, 176, 30, 0}, 2'000'000, 92, hardware, error)) << error;

  std::vector<std::pair<std::vector<uint8_t>, bool>> units;
  auto collect = [&](const uint8_t* d, size_t n, bool key) { units.emplace_back(std::vector<uint8_t>(d, d + n), key); };
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(encoder->encode(picture(i * 3).data(), i, i == 0 || i == 30, collect));
  ASSERT_EQ(units.size(), 40u); // no delay: one access unit per picture
  for (size_t i = 0; i < units.size(); ++i) {
    const auto types = nalTypes(units[i].first);
    const bool idr = std::find(types.begin(), types.end(), 5) != types.end();
    // Parameter sets travel with every IDR.
    const bool key = i % 30 == 0;
    EXPECT_EQ(std::tuple(units[i].second, idr, types.at(0) == 7), std::tuple(key, key, key)) << i;
  }
  // Constrained baseline: profile 66 with constraint_set1.
  EXPECT_EQ(std::pair(units[0].first.at(5), units[0].first.at(6) & 0x40), std::pair(uint8_t{66}, 0x40));

  // The self-test's decode-back, on the decoder every platform has.
  DecodedPicture decoded;
  ASSERT_TRUE(decodeBackWithOpenH264(units[0].first, decoded, error)) << error;
  EXPECT_EQ(std::tuple(decoded.width, decoded.height), std::tuple(320, 176));
  EXPECT_NEAR(decoded.lumaMean, 127.5, 1.0); // the first picture's
}

INSTANTIATE_TEST_SUITE_P(Platform, SoftwareEncoder,
                         ::testing::Values(std::pair{"platform", EncoderFactory(makeEncoderBackend)},
                                           std::pair{"openh264", EncoderFactory(makeOpenH264Encoder)}),
                         [](const auto& info) { return std::string(info.param.first); });

TEST(OpenH264Settings, QualityAndSpeedMapOntoQuantiserAndComplexity) {
  const std::pair<int, int> quantizers[] = {{100, 12}, {92, 15}, {40, 35}, {1, 51}, {-50, 51}};
  for (const auto& [quality, qp] : quantizers) EXPECT_EQ(openH264QuantizerFor(quality), qp) << quality;
  const std::pair<int, int> complexities[] = {{1, 0}, {50, 0}, {51, 1}, {80, 1}, {81, 2}, {100, 2}};
  for (const auto& [qvs, mode] : complexities) EXPECT_EQ(openH264ComplexityFor(qvs), mode) << qvs;
}

TEST(FirstAvailableEncoder, FallsBackInOrderAndNamesEveryFailure) {
  testing::ManualClock clock;
  // An encoder that reports a hardware attempt and fails.
  const EncoderFactory missing = [&] { return std::make_unique<testing::RecordingEncoder>(clock, false); };
  bool hardware = false;
  std::string error;
  FirstAvailableEncoder fallback({missing, makeOpenH264Encoder});
  ASSERT_TRUE(fallback.open({64, 48, 30, 0}, 1'000'000, 92, hardware, error)) << error;
  EXPECT_EQ(std::tuple(hardware, std::string(fallback.name())), std::tuple(false, "openh264"));

  FirstAvailableEncoder none({missing, missing});
  EXPECT_FALSE(none.open({64, 48, 30, 0}, 1'000'000, 92, hardware, error));
  EXPECT_EQ(std::tuple(hardware, error), std::tuple(false, "fake: missing; fake: missing"));
  EXPECT_FALSE(none.encode(nullptr, 0, true, [](const uint8_t*, size_t, bool) {}));
}

TEST(AnnexB, ShortStartCodesAndTrailingZerosAreNormalised) {
  const std::vector<uint8_t> in{0, 0, 0, 1, 0x67, 1, 2, 0, 0, 1, 0x68, 3, 0, 0, 0, 0, 1, 0x65, 4, 0};
  std::vector<uint8_t> out;
  appendWithLongStartCodes(in, out);
  EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 3, 0, 0, 0, 1, 0x65, 4}));
}

// An asynchronous encoder's waiting pictures: the two newest, and a taker
// that stops waiting when told to.
TEST(LatestPicturesQueue, KeepsTheTwoNewestAndWakesATakerToStop) {
  LatestPicturesQueue<int> queue;
  for (int i = 1; i <= 3; ++i) queue.push(i, i * 10);
  std::atomic<bool> stopped{false};
  const auto stop = [&] { return stopped.load(); };
  EXPECT_EQ(queue.waitAndTake(stop)->picture, 2);
  EXPECT_EQ(queue.waitAndTake(stop)->timestamp, 30);
  std::optional<LatestPicturesQueue<int>::Entry> taken{{0, 0}};
  std::thread taker([&] { taken = queue.waitAndTake(stop); });
  stopped = true;
  queue.wake();
  taker.join();
  EXPECT_FALSE(taken);
}

} // namespace
} // namespace dravnok::video
