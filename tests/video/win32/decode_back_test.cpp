#include "video/decode_back.h"

#include <windows.h>

#include <mfapi.h>

#include <gtest/gtest.h>

#include <vector>

namespace dravnok::video {
namespace {

// One IDR with its parameter sets: a flat mid-grey 64x48 picture.
const std::vector<uint8_t> kGreyIdr = {
    0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0xc0, 0x0a, 0xd9, 0x04, 0x7b, 0x01, 0x10, 0x00, 0x00, 0x03, 0x00, 0x10, 0x00,
    0x00, 0x03, 0x03, 0x20, 0xf1, 0x22, 0x64, 0x80, 0x00, 0x00, 0x00, 0x01, 0x68, 0xcb, 0x83, 0xcb, 0x20, 0x00, 0x00,
    0x01, 0x65, 0x88, 0x84, 0x0a, 0xf2, 0x62, 0x80, 0x01, 0x79, 0x39, 0x39, 0x3a, 0xeb, 0xae, 0xba, 0xeb, 0xae, 0xbc};

TEST(DecodeBack, DecodesAnAccessUnitToItsLumaMeanOrSaysWhy) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  ASSERT_TRUE(SUCCEEDED(MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET)));
  DecodedPicture picture;
  std::string error;
  if (!decodeBack(kGreyIdr, 64, 48, picture, error)) {
    // Systems without a working decoder (Wine without the right media
    // plugins) must still say why.
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(picture.lumaMean, -1.0);
  } else {
    EXPECT_EQ(picture.width, 64);
    EXPECT_GE(picture.height, 48);
    EXPECT_NEAR(picture.lumaMean, 126.0, 4.0);
  }

  // Bytes that are no H.264 at all end in a reason, not a crash.
  const std::vector<uint8_t> noise(300, 0xa5);
  picture = {};
  EXPECT_FALSE(decodeBack(noise, 64, 48, picture, error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(picture.lumaMean, -1.0);
  MFShutdown();
  CoUninitialize();
}

} // namespace
} // namespace dravnok::video
