#include "video/annexb.h"
#include "video/encoder_backend.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace dravnok::video {
namespace {

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
