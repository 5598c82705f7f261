#include "video/annexb.h"
#include "video/encoder_backend.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace dravnok::video {
namespace {

struct Unit {
  std::vector<uint8_t> bytes;
  bool key;
};

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
std::vector<uint8_t> picture(int w, int h, int shift) {
  std::vector<uint8_t> nv12(static_cast<size_t>(w) * h * 3 / 2, 128);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      nv12[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(((x + shift) * 7 ^ y * 13) & 0xff);
  return nv12;
}

TEST(LibavEncoder, BaselineIdrOnRequestOnlyWithLongStartCodes) {
  unsetenv("DRAVNOK_REMOTE_HWENC");
  auto encoder = makeEncoderBackend();
  bool hardware = true;
  std::string error;
  ASSERT_TRUE(encoder->open({320, 176, 30, 0}, 2'000'000, 92, hardware, error)) << error;
  EXPECT_FALSE(hardware);
  EXPECT_NE(encoder->describeSettings().find("q=92"), std::string::npos);

  std::vector<Unit> units;
  auto collect = [&](const uint8_t* d, size_t n, bool key) { units.push_back({{d, d + n}, key}); };
  for (int i = 0; i < 40; ++i)
    ASSERT_TRUE(encoder->encode(picture(320, 176, i * 3).data(), i, i == 0 || i == 30, collect));
  ASSERT_EQ(units.size(), 40u); // no delay: one access unit per picture
  for (size_t i = 0; i < units.size(); ++i) {
    const auto types = nalTypes(units[i].bytes);
    const bool idr = std::find(types.begin(), types.end(), 5) != types.end();
    EXPECT_EQ(units[i].key, i == 0 || i == 30) << i;
    EXPECT_EQ(idr, units[i].key) << i;
    if (units[i].key) { // parameter sets travel with every IDR
      EXPECT_EQ(types.front(), 7) << i;
    }
  }
  // Constrained baseline: profile 66 with constraint_set1.
  const auto& sps = units[0].bytes;
  EXPECT_EQ(sps[5], 66);
  EXPECT_TRUE(sps[6] & 0x40);
}

TEST(LibavEncoder, HigherQualitySpendsMoreBits) {
  auto encoder = makeEncoderBackend();
  bool hardware = false;
  std::string error;
  ASSERT_TRUE(encoder->open({320, 176, 30, 0}, 2'000'000, 92, hardware, error)) << error;
  size_t size = 0;
  auto measure = [&](const uint8_t*, size_t n, bool) { size = n; };
  std::vector<size_t> sizes;
  for (int q : {92, 60, 40}) {
    ASSERT_TRUE(encoder->setQuality(q));
    ASSERT_TRUE(encoder->encode(picture(320, 176, q).data(), q, true, measure));
    sizes.push_back(size);
  }
  EXPECT_GT(sizes[0], sizes[1]);
  EXPECT_GT(sizes[1], sizes[2]);
}

TEST(LibavEncoder, QualityVsSpeedVariableChoosesThePreset) {
  for (const auto& [value, preset] : {std::pair{"", "ultrafast"}, std::pair{"90", "veryfast"}}) {
    if (*value)
      setenv("DRAVNOK_REMOTE_QVS", value, 1);
    else
      unsetenv("DRAVNOK_REMOTE_QVS");
    auto encoder = makeEncoderBackend();
    bool hardware = false;
    std::string error;
    ASSERT_TRUE(encoder->open({320, 176, 30, 0}, 2'000'000, 92, hardware, error)) << error;
    EXPECT_NE(encoder->describeSettings().find(std::string("preset=") + preset), std::string::npos)
        << encoder->describeSettings();
  }
  unsetenv("DRAVNOK_REMOTE_QVS");
}

TEST(AnnexB, ShortStartCodesAndTrailingZerosAreNormalised) {
  const std::vector<uint8_t> in{0, 0, 0, 1, 0x67, 1, 2, 0, 0, 1, 0x68, 3, 0, 0, 0, 0, 1, 0x65, 4, 0};
  std::vector<uint8_t> out;
  appendWithLongStartCodes(in, out);
  EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 3, 0, 0, 0, 1, 0x65, 4}));
}

} // namespace
} // namespace dravnok::video
