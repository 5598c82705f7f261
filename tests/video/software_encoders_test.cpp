// What the session needs of every encoder it may run: baseline with IDR
// only on request and parameter sets with each, four-byte start codes, one
// access unit per picture, and quality that changes the size.
#include "video/decode_back.h"
#include "video/encoder_backend.h"
#include "video/first_available_encoder.h"
#include "video/openh264_encoder.h"
#include "video/sps_colour.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <tuple>
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

struct EncoderCase {
  const char* name;
  EncoderFactory make;
};

class SoftwareEncoder : public ::testing::TestWithParam<EncoderCase> {
protected:
  std::unique_ptr<EncoderBackend> open(int32_t quality = 92) {
    auto encoder = GetParam().make();
    bool hardware = true;
    std::string error;
    EXPECT_TRUE(encoder->open({320, 176, 30, 0}, 2'000'000, quality, hardware, error)) << error;
    EXPECT_FALSE(hardware);
    return encoder;
  }
};

TEST_P(SoftwareEncoder, BaselineIdrOnRequestOnlyWithLongStartCodes) {
#ifdef _WIN32
  _putenv_s("DRAVNOK_REMOTE_HWENC", ""); // an empty value removes it
#else
  unsetenv("DRAVNOK_REMOTE_HWENC");
#endif
  auto encoder = open();
  EXPECT_NE(encoder->describeSettings().find("q=92"), std::string::npos) << encoder->describeSettings();

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

TEST_P(SoftwareEncoder, HigherQualitySpendsMoreBits) {
  auto encoder = open();
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

// The encode self-test's decode-back, on the decoder every platform has; and
// decoders read our pixels back as the converter wrote them (BT.709, limited
// range) only when the stream says so.
TEST_P(SoftwareEncoder, DecodesBackToThePictureAndDescribesItsColour) {
  auto encoder = open();
  std::vector<uint8_t> nv12(320 * 176 * 3 / 2, 128);
  std::fill_n(nv12.begin(), 320 * 176, uint8_t{180});
  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(encoder->encodeSingle(
      nv12.data(), [&](const uint8_t* d, size_t n, bool) { bytes.insert(bytes.end(), d, d + n); }, error))
      << error;
  DecodedPicture decoded;
  ASSERT_TRUE(decodeBackWithOpenH264(bytes, decoded, error)) << error;
  EXPECT_EQ(decoded.width, 320);
  EXPECT_EQ(decoded.height, 176);
  EXPECT_NEAR(decoded.lumaMean, 180.0, 1.0);

  const auto colour = testing::readSpsColour(bytes);
  ASSERT_TRUE(colour);
  EXPECT_TRUE(colour->signalTypePresent && colour->descriptionPresent);
  EXPECT_FALSE(colour->fullRange);
  EXPECT_EQ(std::tuple(colour->primaries, colour->transfer, colour->matrix), std::tuple(1, 1, 1));
}

INSTANTIATE_TEST_SUITE_P(Platform, SoftwareEncoder,
                         ::testing::Values(EncoderCase{"platform", makeEncoderBackend},
                                           EncoderCase{"openh264", makeOpenH264Encoder}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OpenH264Settings, QualityAndSpeedMapOntoQuantiserAndComplexity) {
  const std::pair<int, int> quantizers[] = {{100, 12}, {92, 15}, {40, 35}, {1, 51}, {-50, 51}};
  for (const auto& [quality, qp] : quantizers) EXPECT_EQ(openH264QuantizerFor(quality), qp) << quality;
  const std::pair<int, int> complexities[] = {{1, 0}, {50, 0}, {51, 1}, {80, 1}, {81, 2}, {100, 2}};
  for (const auto& [qvs, mode] : complexities) EXPECT_EQ(openH264ComplexityFor(qvs), mode) << qvs;
}

// An encoder that never opens, named after `label`.
class Unavailable final : public EncoderBackend {
public:
  explicit Unavailable(const char* label) : label(label) {}
  bool open(const EncoderConfig&, int32_t, int32_t, bool& hardware, std::string& error) override {
    hardware = true; // a failed hardware attempt must not leak out
    error = "missing";
    return false;
  }
  std::string describeSettings() override { return label; }
  const char* name() const override { return label; }
  bool setQuality(int32_t) override { return false; }
  bool encode(const uint8_t*, int64_t, bool, const EncodedOutput&) override { return false; }
  void flush(const EncodedOutput&) override {}

private:
  const char* label;
};

TEST(FirstAvailableEncoder, FallsBackInOrderAndNamesEveryFailure) {
  bool hardware = false;
  std::string error;
  FirstAvailableEncoder fallback({[] { return std::make_unique<Unavailable>("mf"); }, makeOpenH264Encoder});
  ASSERT_TRUE(fallback.open({64, 48, 30, 0}, 1'000'000, 92, hardware, error)) << error;
  EXPECT_FALSE(hardware);
  EXPECT_STREQ(fallback.name(), "openh264");
  EXPECT_NE(fallback.describeSettings().find("encoder=openh264"), std::string::npos);

  FirstAvailableEncoder none(
      {[] { return std::make_unique<Unavailable>("mf"); }, [] { return std::make_unique<Unavailable>("other"); }});
  EXPECT_FALSE(none.open({64, 48, 30, 0}, 1'000'000, 92, hardware, error));
  EXPECT_FALSE(hardware);
  EXPECT_EQ(error, "mf: missing; other: missing");
  EXPECT_FALSE(none.encode(nullptr, 0, true, [](const uint8_t*, size_t, bool) {}));
}

} // namespace
} // namespace dravnok::video
