#include "video/win32/mf_encoder.h"

#include "fake_transform.h"
#include "video/encode_loop.h"
#include "video/first_available_encoder.h"
#include "video/loop_fakes.h"

#include <codecapi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

namespace dravnok::video {
namespace {

using testing::FakeTransform;
using Calls = std::vector<std::string>;
using Units = std::vector<std::pair<std::vector<uint8_t>, bool>>;

class MediaFoundation : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    ASSERT_TRUE(SUCCEEDED(MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET)));
    _putenv_s("DRAVNOK_REMOTE_HWENC", ""); // an empty value removes it
    *fake.GetAddressOf() = new FakeTransform;
  }
  void TearDown() override {
    fake.Reset();
    MFShutdown();
    CoUninitialize();
  }

  // An encoder whose every search finds the fake, behind the fallback the
  // session uses.
  std::unique_ptr<EncoderBackend> openEncoder(int32_t gopSeconds = 0) {
    auto encoder = std::make_unique<FirstAvailableEncoder>(std::vector<EncoderFactory>{
        [this] { return std::make_unique<MfEncoder>([this](UINT32) { return ComPtr<IMFTransform>(fake.Get()); }); }});
    bool hardware = true;
    std::string error;
    EXPECT_TRUE(encoder->open({64, 32, 30, gopSeconds}, 2'000'000, 92, hardware, error)) << error;
    EXPECT_FALSE(hardware);
    return encoder;
  }
  EncodedOutput collect() {
    return [this](const uint8_t* d, size_t n, bool key) { units.emplace_back(std::vector<uint8_t>(d, d + n), key); };
  }
  // A 64x32 NV12 picture told apart by its bytes.
  static std::vector<uint8_t> picture(uint8_t value) { return std::vector<uint8_t>(64 * 32 * 3 / 2, value); }

  ComPtr<FakeTransform> fake;
  Units units;
};

TEST_F(MediaFoundation, OpenSetsBaselineTypesThenQualityBasedLowLatencySettings) {
  // (GOP in seconds, DRAVNOK_REMOTE_QVS, GOP in frames, quality against speed)
  const std::tuple<int32_t, const char*, ULONG, ULONG> cases[] = {{0, "abc", 2147483647, 50}, {2, "250", 60, 100}};
  for (const auto& [seconds, qvs, frames, speed] : cases) {
    *fake.ReleaseAndGetAddressOf() = new FakeTransform;
    _putenv_s("DRAVNOK_REMOTE_QVS", qvs);
    auto encoder = openEncoder(seconds);
    // Output first: encoders decide their inputs from it.
    EXPECT_EQ(fake->calls, (Calls{"SetOutputType", "SetInputType"}));
    EXPECT_EQ(fake->settings, (std::vector<std::pair<GUID, ULONG>>{
                                  {CODECAPI_AVEncCommonRateControlMode, eAVEncCommonRateControlMode_Quality},
                                  {CODECAPI_AVEncCommonQuality, 92},
                                  {CODECAPI_AVLowLatencyMode, 1},
                                  {CODECAPI_AVEncMPVGOPSize, frames},
                                  {CODECAPI_AVEncCommonQualityVsSpeed, speed}}));
  }
  // Baseline H.264 from NV12 of the picture's size, both BT.709 in the
  // limited range, as the converter writes it.
  GUID in{}, out{};
  UINT32 width = 0, height = 0;
  fake->inputType->GetGUID(MF_MT_SUBTYPE, &in);
  fake->outputType->GetGUID(MF_MT_SUBTYPE, &out);
  MFGetAttributeSize(fake->inputType.Get(), MF_MT_FRAME_SIZE, &width, &height);
  EXPECT_TRUE(in == MFVideoFormat_NV12 && out == MFVideoFormat_H264);
  EXPECT_EQ(std::tuple(width, height, MFGetAttributeUINT32(fake->outputType.Get(), MF_MT_MPEG2_PROFILE, 0),
                       MFGetAttributeUINT32(fake->outputType.Get(), MF_MT_VIDEO_NOMINAL_RANGE, 0),
                       MFGetAttributeUINT32(fake->inputType.Get(), MF_MT_YUV_MATRIX, 0)),
            std::tuple(64u, 32u, 66u, UINT32{MFNominalRange_16_235}, UINT32{MFVideoTransferMatrix_BT709}));

  // Quality is clamped, and an unchanged one costs no call; without the
  // codec interface it cannot change.
  auto encoder = openEncoder();
  fake->settings.clear();
  EXPECT_TRUE(encoder->setQuality(92) && encoder->setQuality(150) && encoder->setQuality(-3));
  EXPECT_EQ(fake->settings, (std::vector<std::pair<GUID, ULONG>>{{CODECAPI_AVEncCommonQuality, 100},
                                                                 {CODECAPI_AVEncCommonQuality, 1}}));
  fake->codecApi = false;
  EXPECT_FALSE(openEncoder()->setQuality(50));
  // A transform that refuses the type fails the opening, so that the next
  // encoder gets its turn.
  fake->setOutputTypeResult = MF_E_INVALIDMEDIATYPE;
  bool hardware = false;
  std::string error;
  EXPECT_FALSE(MfEncoder([&](UINT32) { return fake; }).open({64, 32, 30, 0}, 2'000'000, 92, hardware, error));
}

TEST_F(MediaFoundation, EveryPictureTheTransformGivesIsDelivered) {
  auto encoder = openEncoder();
  encoder->setFrameRate(10);
  fake->calls.clear();
  fake->outputs = {{S_OK, {0, 0, 0, 1, 0x67}, true}, {S_OK, {}, false}, {S_OK, {0, 0, 0, 1, 0x41}, false}};
  ASSERT_TRUE(encoder->encode(picture(10).data(), 0, true, collect()));
  // The stream opens before the first picture, and the key frame is asked
  // for before it; all output follows until the transform needs more input,
  // without the empty sample.
  EXPECT_EQ(fake->calls, (Calls{"begin-streaming", "start-of-stream", "key-frame", "ProcessInput"}));
  EXPECT_EQ(units, (Units{{{0, 0, 0, 1, 0x67}, true}, {{0, 0, 0, 1, 0x41}, false}}));

  // A stream change ends this draining; what follows comes with the next
  // picture, here in a sample the transform allocates and the encoder must
  // release.
  units.clear();
  fake->outputs = {{MF_E_TRANSFORM_STREAM_CHANGE, {}, false}, {S_OK, {0, 0, 0, 1, 0x41}, false}};
  ASSERT_TRUE(encoder->encode(picture(11).data(), 0, false, collect()));
  EXPECT_TRUE(units.empty());
  fake->providesSamples = true;
  ASSERT_TRUE(encoder->encode(picture(12).data(), 0, false, collect()));
  EXPECT_EQ(units, (Units{{{0, 0, 0, 1, 0x41}, false}}));
  EXPECT_EQ(fake->lastGiven.Get()->AddRef(), 2u);
  fake->lastGiven.Get()->Release();

  // A full transform refuses the picture but still gives its output.
  fake->processInputResult = MF_E_NOTACCEPTING;
  fake->outputs = {{S_OK, {0, 0, 0, 1, 0x41}, false}};
  EXPECT_FALSE(encoder->encode(picture(13).data(), 0, false, collect()));
  EXPECT_EQ(units.size(), 2u);
  fake->processInputResult = E_FAIL;
  EXPECT_FALSE(encoder->encode(picture(14).data(), 0, false, collect()));
  // Sample times rise even when the caller's timestamps do not, by a frame
  // at the rate the loop runs at, not the configured one.
  EXPECT_EQ(fake->inputs, (std::vector<uint8_t>{10, 11, 12}));
  EXPECT_EQ(fake->times[1] - fake->times[0], 1'000'000);

  // The end of the stream hands out what the transform still holds.
  fake->calls.clear();
  fake->outputs = {{S_OK, {0, 0, 0, 1, 0x41}, false}};
  encoder->flush(collect());
  EXPECT_EQ(fake->calls, (Calls{"end-of-stream", "drain", "end-streaming"}));
  EXPECT_EQ(units.size(), 3u);
}

// Each picture the loop makes is converted straight into the buffer the
// transform gets (which also serves to encode it again), and lasts a frame
// at the loop's current rate, not the 30 per second the encoder opened with.
TEST_F(MediaFoundation, TheLoopConvertsIntoTheSampleAndTimesItAtItsCurrentRate) {
  auto encoder = openEncoder();
  testing::ManualClock clock;
  testing::ScriptedScreen screen{clock};
  EncodeLoop loop(*encoder, clock, 64, 32, 10, 92);
  loop.attachSource(screen);
  loop.setActive(true);
  for (int pass = 0; pass < 3; ++pass) loop.runPass();
  screen.changing = false;
  loop.requestKeyFrame(true);
  loop.runPass(); // a still screen's key frame: the last picture again
  const auto& at = screen.targets;
  EXPECT_EQ(fake->addresses, (std::vector<const uint8_t*>{at.at(0), at.at(1), at.at(2), at.at(2)}));
  EXPECT_EQ(fake->inputs, (std::vector<uint8_t>{1, 2, 3, 3}));
  EXPECT_EQ(fake->durations, std::vector<LONGLONG>(4, 1'000'000));
}

// A hardware transform asks for pictures by events: it gets the newest ones
// (the oldest waiting is dropped), its output goes out with their times, and
// stopping neither waits for a picture nor leaves anything held.
TEST_F(MediaFoundation, AsynchronousTransformTakesTheNewestPicturesWhenItAsks) {
  fake->async = true;
  auto encoder = openEncoder();
  ASSERT_TRUE(encoder->asynchronous());
  EXPECT_EQ(MFGetAttributeUINT32(fake->attributes.Get(), MF_TRANSFORM_ASYNC_UNLOCK, 0), 1u);
  fake->calls.clear();
  std::vector<int64_t> times;
  encoder->beginStreaming([&](const uint8_t* d, size_t n, bool key, int64_t timestamp) {
    units.emplace_back(std::vector<uint8_t>(d, d + n), key);
    times.push_back(timestamp);
  });
  fake->outputs = {{S_OK, {0, 0, 0, 1, 0x65}, true}, {S_OK, {0, 0, 0, 1, 0x41}, false}};
  for (uint8_t i : {1, 2, 3}) ASSERT_TRUE(encoder->encode(picture(i).data(), i * 100, i == 2, collect()));
  for (size_t asked : {1, 2}) {
    fake->queueEvent(METransformNeedInput);
    ASSERT_TRUE(fake->waitForInputs(asked));
  }
  fake->queueEvent(METransformNeedInput); // with nothing left to give
  encoder->flush(collect());
  EXPECT_EQ(fake->inputs, (std::vector<uint8_t>{2, 3}));
  EXPECT_EQ(units, (Units{{{0, 0, 0, 1, 0x65}, true}, {{0, 0, 0, 1, 0x41}, false}}));
  EXPECT_EQ(times, (std::vector<int64_t>{200, 300}));
  EXPECT_EQ(fake->calls, (Calls{"begin-streaming", "start-of-stream", "key-frame", "ProcessInput", "ProcessInput",
                                "end-of-stream", "drain", "end-streaming"}));
  // Without a running event thread nothing can be queued.
  EXPECT_FALSE(encoder->encode(picture(4).data(), 400, false, collect()));
  encoder.reset();
  EXPECT_EQ(fake.Get()->AddRef(), 2u); // every reference the encoder took is given back
  fake.Get()->Release();
}

} // namespace
} // namespace dravnok::video
