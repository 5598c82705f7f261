#include "video/win32/mf_encoder.h"

#include "fake_transform.h"

#include <codecapi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

namespace dravnok::video {
namespace {

using testing::FakeTransform;
using testing::ScriptedOutput;

struct Unit {
  std::vector<uint8_t> bytes;
  bool key;
  int64_t timestamp;
};

class MediaFoundation : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    ASSERT_TRUE(SUCCEEDED(MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET)));
    _putenv_s("DRAVNOK_REMOTE_HWENC", "");
    _putenv_s("DRAVNOK_REMOTE_QVS", "");
    *fake.GetAddressOf() = new FakeTransform;
  }
  void TearDown() override {
    fake.Reset();
    MFShutdown();
    CoUninitialize();
  }

  // An encoder whose every enumeration finds the fake.
  std::unique_ptr<MfEncoder> openEncoder(int32_t gopSeconds = 0) {
    auto encoder = std::make_unique<MfEncoder>([this](UINT32) { return ComPtr<IMFTransform>(fake.Get()); });
    bool hardware = true;
    std::string error;
    EXPECT_TRUE(encoder->open({64, 32, 30, gopSeconds}, 2'000'000, 92, hardware, error)) << error;
    EXPECT_FALSE(hardware);
    return encoder;
  }
  EncodedOutput collect() {
    return [this](const uint8_t* d, size_t n, bool key) { units.push_back({{d, d + n}, key, 0}); };
  }
  static std::vector<uint8_t> picture(uint8_t first) {
    std::vector<uint8_t> nv12(64 * 32 * 3 / 2, 128);
    nv12[0] = first;
    return nv12;
  }

  ComPtr<FakeTransform> fake;
  std::vector<Unit> units;
};

TEST_F(MediaFoundation, ChoiceTriesHardwareOnRequestThenSynchronousThenAny) {
  const UINT32 hardwareOnly = MFT_ENUM_FLAG_HARDWARE | MFT_ENUM_FLAG_SORTANDFILTER;
  const UINT32 synchronous = MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_SORTANDFILTER;
  const UINT32 any =
      MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_ASYNCMFT | MFT_ENUM_FLAG_HARDWARE | MFT_ENUM_FLAG_SORTANDFILTER;
  std::vector<UINT32> asked;
  auto findOnly = [&](UINT32 present) {
    asked.clear();
    return [&, present](UINT32 flags) {
      asked.push_back(flags);
      return flags == present ? ComPtr<IMFTransform>(fake.Get()) : ComPtr<IMFTransform>();
    };
  };
  // (hardware asked for, the only search that finds one, found, reported as
  // hardware, searches made). The last resort may well be a hardware
  // encoder, but nobody asked for one.
  const std::tuple<bool, UINT32, bool, bool, std::vector<UINT32>> cases[] = {
      {true, hardwareOnly, true, true, {hardwareOnly}},
      {true, synchronous, true, false, {hardwareOnly, synchronous}},
      {true, any, true, false, {hardwareOnly, synchronous, any}},
      {false, 0, false, false, {synchronous, any}}};
  for (const auto& [request, present, found, hardware, searches] : cases) {
    const MftChoice choice = chooseH264EncoderMft(request, findOnly(present));
    EXPECT_EQ(bool(choice.transform), found) << present;
    EXPECT_EQ(choice.hardware, hardware) << present;
    EXPECT_EQ(asked, searches) << present;
  }

  MfEncoder none([](UINT32) { return ComPtr<IMFTransform>(); });
  bool hardware = true;
  std::string error;
  EXPECT_FALSE(none.open({64, 32, 30, 0}, 2'000'000, 92, hardware, error));
  EXPECT_EQ(error, "no H.264 encoder MFT available (neither software nor hardware)");

  // The variable's flag rule decides whether hardware is asked for.
  _putenv_s("DRAVNOK_REMOTE_HWENC", "yes");
  MfEncoder requested(findOnly(hardwareOnly));
  ASSERT_TRUE(requested.open({64, 32, 30, 0}, 2'000'000, 92, hardware, error)) << error;
  EXPECT_TRUE(hardware);
}

TEST_F(MediaFoundation, OpenSetsBaselineTypesAndQualityBasedLowLatencySettings) {
  _putenv_s("DRAVNOK_REMOTE_QVS", "250");
  auto encoder = openEncoder();
  // Output first: encoders decide their inputs from it.
  std::vector<std::string> typeCalls;
  for (const auto& call : fake->calls)
    if (call.rfind("Set", 0) == 0 && call != "SetValue") typeCalls.push_back(call);
  EXPECT_EQ(typeCalls, (std::vector<std::string>{"SetOutputType", "SetInputType"}));

  GUID subtype{};
  UINT32 number = 0;
  UINT64 pair = 0;
  ASSERT_TRUE(fake->outputType && fake->inputType);
  fake->outputType->GetGUID(MF_MT_SUBTYPE, &subtype);
  EXPECT_TRUE(subtype == MFVideoFormat_H264);
  fake->outputType->GetUINT32(MF_MT_MPEG2_PROFILE, &number);
  EXPECT_EQ(number, 66u);
  fake->outputType->GetUINT64(MF_MT_FRAME_SIZE, &pair);
  EXPECT_EQ(pair, (UINT64{64} << 32) | 32);
  fake->inputType->GetGUID(MF_MT_SUBTYPE, &subtype);
  EXPECT_TRUE(subtype == MFVideoFormat_NV12);

  EXPECT_EQ(fake->setting(CODECAPI_AVLowLatencyMode), 1);
  EXPECT_EQ(fake->setting(CODECAPI_AVEncCommonQualityVsSpeed), 100);
  EXPECT_EQ(encoder->describeSettings(), "rc=3 q=92 gop=2147483647");
  EXPECT_FALSE(encoder->asynchronous());

  // Quality: clamped, unchanged values cost no call.
  const int before = fake->count("SetValue");
  EXPECT_TRUE(encoder->setQuality(92));
  EXPECT_EQ(fake->count("SetValue"), before);
  EXPECT_TRUE(encoder->setQuality(150));
  EXPECT_EQ(fake->setting(CODECAPI_AVEncCommonQuality), 100);
  EXPECT_TRUE(encoder->setQuality(-3));
  EXPECT_EQ(encoder->currentQuality(), 1);
}

TEST_F(MediaFoundation, SettingsDependOnTheTransformAndFailuresAreNamed) {
  _putenv_s("DRAVNOK_REMOTE_QVS", "abc");
  openEncoder(2);
  EXPECT_EQ(fake->setting(CODECAPI_AVEncMPVGOPSize), 60);
  EXPECT_EQ(fake->setting(CODECAPI_AVEncCommonQualityVsSpeed), 50);

  ComPtr<FakeTransform> plain;
  *plain.GetAddressOf() = new FakeTransform;
  plain->codecApi = false;
  MfEncoder withoutApi([&](UINT32) { return ComPtr<IMFTransform>(plain.Get()); });
  bool hardware = false;
  std::string error;
  ASSERT_TRUE(withoutApi.open({64, 32, 30, 0}, 2'000'000, 92, hardware, error));
  EXPECT_EQ(withoutApi.describeSettings(), "no-codecapi");
  EXPECT_FALSE(withoutApi.setQuality(50));

  ComPtr<FakeTransform> refusing;
  *refusing.GetAddressOf() = new FakeTransform;
  refusing->setOutputTypeResult = MF_E_INVALIDMEDIATYPE;
  MfEncoder refused([&](UINT32) { return ComPtr<IMFTransform>(refusing.Get()); });
  EXPECT_FALSE(refused.open({64, 32, 30, 0}, 2'000'000, 92, hardware, error));
  EXPECT_EQ(error, "IMFTransform::SetOutputType failed (hr=0xC00D36B4)");
}

TEST_F(MediaFoundation, DrainingDeliversUntilMoreInputIsNeededOrTheStreamChanges) {
  auto encoder = openEncoder();
  fake->outputs = {{S_OK, {0, 0, 0, 1, 0x67}, true}, {S_OK, {}, false}, {S_OK, {0, 0, 0, 1, 0x41}, false}};
  ASSERT_TRUE(encoder->encode(picture(10).data(), 0, true, collect()));
  // Both messages open the stream before the first picture.
  EXPECT_EQ(fake->sequence(), (std::vector<std::string>{"begin-streaming", "start-of-stream", "ProcessInput"}));
  EXPECT_EQ(fake->setting(CODECAPI_AVEncVideoForceKeyFrame), 1);
  ASSERT_EQ(units.size(), 2u); // the empty sample is not handed on
  EXPECT_TRUE(units[0].key);
  EXPECT_EQ(units[0].bytes.back(), 0x67);
  EXPECT_FALSE(units[1].key);
  // Events that came with the output were released.
  EXPECT_EQ(fake->lastEvent.Get()->AddRef(), 2u);
  fake->lastEvent.Get()->Release();

  // A stream change ends this draining; what follows waits for the next one.
  units.clear();
  fake->outputs = {{MF_E_TRANSFORM_STREAM_CHANGE, {}, false}, {S_OK, {0, 0, 0, 1, 0x41}, false}};
  ASSERT_TRUE(encoder->encode(picture(11).data(), 0, false, collect()));
  EXPECT_TRUE(units.empty());
  ASSERT_TRUE(encoder->encode(picture(12).data(), 0, false, collect()));
  EXPECT_EQ(units.size(), 1u);

  // A transform that is full drops the picture but still gives its output.
  units.clear();
  fake->processInputResult = MF_E_NOTACCEPTING;
  fake->outputs = {{S_OK, {0, 0, 0, 1, 0x41}, false}};
  EXPECT_FALSE(encoder->encode(picture(13).data(), 0, false, collect()));
  EXPECT_EQ(units.size(), 1u);
  fake->processInputResult = E_FAIL;
  EXPECT_FALSE(encoder->encode(picture(14).data(), 0, false, collect()));

  ASSERT_EQ(fake->inputs.size(), 3u);
  EXPECT_EQ(fake->inputs[2].firstByte, 12);
  // Sample times rise even when the caller's timestamps do not.
  EXPECT_LT(fake->inputs[0].sampleTime, fake->inputs[1].sampleTime);
}

TEST_F(MediaFoundation, SamplesTheTransformAllocatesAreReleased) {
  fake->providesSamples = true;
  auto encoder = openEncoder();
  fake->outputs = {{S_OK, {0, 0, 0, 1, 0x65}, true}};
  ASSERT_TRUE(encoder->encode(picture(1).data(), 0, false, collect()));
  ASSERT_EQ(units.size(), 1u);
  ASSERT_TRUE(fake->lastGiven);
  EXPECT_EQ(fake->lastGiven.Get()->AddRef(), 2u); // only the fake still holds it
  fake->lastGiven.Get()->Release();
}

TEST_F(MediaFoundation, SingleTestEncodeIsAWholeStreamWithAForcedKeyFrame) {
  auto encoder = openEncoder();
  fake->outputs = {{S_OK, {0, 0, 0, 1, 0x65}, true}};
  std::string error;
  ASSERT_TRUE(encoder->encodeSingle(picture(50).data(), collect(), error)) << error;
  EXPECT_EQ(units.size(), 1u);
  EXPECT_EQ(fake->sequence(), (std::vector<std::string>{"begin-streaming", "start-of-stream", "ProcessInput",
                                                        "end-of-stream", "drain", "end-streaming"}));
  EXPECT_EQ(fake->setting(CODECAPI_AVEncVideoForceKeyFrame), 1);

  fake->processInputResult = E_UNEXPECTED;
  EXPECT_FALSE(encoder->encodeSingle(picture(51).data(), collect(), error));
  EXPECT_EQ(error, "encodeOneForTest: ProcessInput failed (hr=0x8000FFFF)");
  EXPECT_EQ(fake->calls.back(), "end-streaming");
}

TEST_F(MediaFoundation, AsynchronousTransformTakesTheNewestPicturesWhenItAsks) {
  fake->async = true;
  auto encoder = openEncoder();
  ASSERT_TRUE(encoder->asynchronous());
  UINT32 unlocked = 0;
  fake->attributes->GetUINT32(MF_TRANSFORM_ASYNC_UNLOCK, &unlocked);
  EXPECT_EQ(unlocked, 1u);

  std::mutex unitsMutex;
  encoder->beginStreaming([&](const uint8_t* d, size_t n, bool key, int64_t timestamp) {
    std::lock_guard lock(unitsMutex);
    units.push_back({{d, d + n}, key, timestamp});
  });
  fake->outputs = {{S_OK, {0, 0, 0, 1, 0x65}, true}, {S_OK, {0, 0, 0, 1, 0x41}, false}};
  // Three pictures before the encoder asks: the oldest is dropped.
  ASSERT_TRUE(encoder->encode(picture(1).data(), 100, false, collect()));
  ASSERT_TRUE(encoder->encode(picture(2).data(), 200, true, collect()));
  ASSERT_TRUE(encoder->encode(picture(3).data(), 300, false, collect()));
  EXPECT_EQ(fake->setting(CODECAPI_AVEncVideoForceKeyFrame), 1);
  fake->queueEvent(METransformNeedInput);
  ASSERT_TRUE(fake->waitForInputs(1));
  fake->queueEvent(METransformNeedInput);
  ASSERT_TRUE(fake->waitForInputs(2));
  // Asked again with nothing queued: stopping must not wait for a picture.
  fake->queueEvent(METransformNeedInput);
  encoder->flush(collect());

  ASSERT_EQ(fake->inputs.size(), 2u);
  EXPECT_EQ(fake->inputs[0].firstByte, 2);
  EXPECT_EQ(fake->inputs[1].firstByte, 3);
  ASSERT_EQ(units.size(), 2u);
  EXPECT_TRUE(units[0].key);
  EXPECT_EQ(units[0].timestamp, 200);
  EXPECT_EQ(units[1].timestamp, 300);
  EXPECT_EQ(fake->calls.back(), "end-streaming");
  EXPECT_EQ(fake->count("drain"), 1);
  // Without a running event thread nothing can be queued.
  EXPECT_FALSE(encoder->encode(picture(4).data(), 400, false, collect()));

  // Every interface the encoder held is released with it.
  encoder.reset();
  EXPECT_EQ(fake.Get()->AddRef(), 2u);
  fake.Get()->Release();
}

} // namespace
} // namespace dravnok::video
