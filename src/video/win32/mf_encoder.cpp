#include "video/win32/mf_encoder.h"

#include "capture/win32/hresult_text.h"
#include "common/env.h"
#include "video/first_available_encoder.h"
#include "video/loop_clock.h"
#include "video/openh264_encoder.h"

#include <mferror.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace dravnok::video {

using capture::failedCall;

namespace {

constexpr UINT32 kBaselineProfile = 66;

// A VARIANT that is cleared however the scope ends.
struct Variant {
  VARIANT value;
  Variant() { VariantInit(&value); }
  ~Variant() { VariantClear(&value); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
};

HRESULT setUint32(ICodecAPI* api, const GUID& key, ULONG number) {
  Variant v;
  v.value.vt = VT_UI4;
  v.value.ulVal = number;
  return api->SetValue(&key, &v.value);
}

HRESULT setBool(ICodecAPI* api, const GUID& key, bool on) {
  Variant v;
  v.value.vt = VT_BOOL;
  v.value.boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
  return api->SetValue(&key, &v.value);
}

// -1 when the value cannot be read or is of another kind.
long long readNumber(ICodecAPI* api, const GUID& key) {
  Variant v;
  if (FAILED(api->GetValue(&key, &v.value))) return -1;
  switch (v.value.vt) {
  case VT_UI4:
    return static_cast<long long>(v.value.ulVal);
  case VT_UI8:
    return static_cast<long long>(v.value.ullVal);
  case VT_BOOL:
    return v.value.boolVal != VARIANT_FALSE ? 1 : 0;
  default:
    return -1;
  }
}

// DRAVNOK_REMOTE_QVS read as the C library reads it: up to 15 characters,
// leading digits; 50 unless that gives at least 1.
// What the input and output types say alike about the picture, its colour
// included: the NV12 we hand in is BT.709 in the limited range
// (video/colour_description.h), and the encoder writes the output type's
// colour into the stream's VUI.
void describePicture(IMFMediaType* type, UINT32 width, UINT32 height, UINT32 rate) {
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  type->SetUINT32(MF_MT_VIDEO_NOMINAL_RANGE, MFNominalRange_16_235);
  type->SetUINT32(MF_MT_VIDEO_PRIMARIES, MFVideoPrimaries_BT709);
  type->SetUINT32(MF_MT_TRANSFER_FUNCTION, MFVideoTransFunc_709);
  type->SetUINT32(MF_MT_YUV_MATRIX, MFVideoTransferMatrix_BT709);
  type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
  type->SetUINT64(MF_MT_FRAME_SIZE, (static_cast<UINT64>(width) << 32) | height);
  type->SetUINT64(MF_MT_FRAME_RATE, (static_cast<UINT64>(rate) << 32) | 1);
  type->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, (UINT64{1} << 32) | 1);
}

ULONG qualityVsSpeed() {
  char text[16] = {};
  size_t length = 0;
  int value = 0;
  if (getenv_s(&length, text, sizeof text, "DRAVNOK_REMOTE_QVS") == 0 && length > 0) value = std::atoi(text);
  if (value < 1) value = 50;
  return static_cast<ULONG>(std::min(value, 100));
}

} // namespace

ComPtr<IMFTransform> activateFirstH264Encoder(UINT32 flags) {
  MFT_REGISTER_TYPE_INFO output{MFMediaType_Video, MFVideoFormat_H264};
  IMFActivate** activations = nullptr;
  UINT32 count = 0;
  ComPtr<IMFTransform> transform;
  const HRESULT hr = MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER, flags, nullptr, &output, &activations, &count);
  if (SUCCEEDED(hr) && count > 0 && activations[0])
    if (FAILED(activations[0]->ActivateObject(IID_PPV_ARGS(&transform)))) transform.Reset();
  for (UINT32 i = 0; i < count; ++i)
    if (activations[i]) activations[i]->Release();
  CoTaskMemFree(activations);
  return transform;
}

MftChoice chooseH264EncoderMft(bool hardwareRequested, const MftActivator& activate) {
  MftChoice choice;
  if (hardwareRequested) {
    choice.transform = activate(MFT_ENUM_FLAG_HARDWARE | MFT_ENUM_FLAG_SORTANDFILTER);
    if (choice.transform) {
      choice.hardware = true;
      return choice;
    }
  }
  choice.transform = activate(MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_SORTANDFILTER);
  if (!choice.transform)
    choice.transform =
        activate(MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_ASYNCMFT | MFT_ENUM_FLAG_HARDWARE | MFT_ENUM_FLAG_SORTANDFILTER);
  return choice;
}

MfEncoder::MfEncoder(MftActivator activate) : activate(std::move(activate)), sampleClock(sampleFrequency()) {}

MfEncoder::~MfEncoder() {
  flush([](const uint8_t*, size_t, bool) {});
  asyncQueue.clear();
}

bool MfEncoder::open(const EncoderConfig& config, int32_t bitrate, int32_t startQuality, bool& hardware,
                     std::string& error) {
  width = config.width;
  height = config.height;
  fps = config.fps;
  frameRate = std::max(fps, 1);
  gopSeconds = config.gopSeconds;
  hardware = false;

  MftChoice choice = chooseH264EncoderMft(envFlag("DRAVNOK_REMOTE_HWENC"), activate);
  if (!choice.transform) {
    error = "no H.264 encoder MFT available (neither software nor hardware)";
    return false;
  }
  transform = std::move(choice.transform);
  hardware = choice.hardware;

  ComPtr<IMFAttributes> attributes;
  if (SUCCEEDED(transform->GetAttributes(&attributes)) && attributes) {
    UINT32 async = 0;
    asyncMft = SUCCEEDED(attributes->GetUINT32(MF_TRANSFORM_ASYNC, &async)) && async != 0;
    // An asynchronous transform refuses every call until it is unlocked.
    if (asyncMft) attributes->SetUINT32(MF_TRANSFORM_ASYNC_UNLOCK, 1);
  }
  DWORD input = 0, output = 0;
  if (SUCCEEDED(transform->GetStreamIDs(1, &input, 1, &output))) {
    inputStreamId = input;
    outputStreamId = output;
  }

  const UINT32 rate = static_cast<UINT32>(std::max(fps, 1));
  const UINT32 w = static_cast<UINT32>(width), h = static_cast<UINT32>(height);
  ComPtr<IMFMediaType> outputType;
  HRESULT hr = MFCreateMediaType(&outputType);
  if (FAILED(hr)) {
    error = failedCall("MFCreateMediaType(out)", hr);
    return false;
  }
  describePicture(outputType.Get(), w, h, rate);
  outputType->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
  outputType->SetUINT32(MF_MT_AVG_BITRATE, static_cast<UINT32>(bitrate));
  outputType->SetUINT32(MF_MT_MPEG2_PROFILE, kBaselineProfile);
  // Encoders want the output type first: it decides which inputs they take.
  hr = transform->SetOutputType(outputStreamId, outputType.Get(), 0);
  if (FAILED(hr)) {
    error = failedCall("IMFTransform::SetOutputType", hr);
    return false;
  }

  ComPtr<IMFMediaType> inputType;
  hr = MFCreateMediaType(&inputType);
  if (FAILED(hr)) {
    error = failedCall("MFCreateMediaType(in)", hr);
    return false;
  }
  describePicture(inputType.Get(), w, h, rate);
  inputType->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_NV12);
  inputType->SetUINT32(MF_MT_DEFAULT_STRIDE, w);
  hr = transform->SetInputType(inputStreamId, inputType.Get(), 0);
  if (FAILED(hr)) {
    error = failedCall("IMFTransform::SetInputType", hr);
    return false;
  }

  // Settings an encoder does not support are simply left at its defaults.
  // mingw-w64 declares no __uuidof for ICodecAPI: ask by its IID.
  if (SUCCEEDED(
          transform->QueryInterface(IID_ICodecAPI, reinterpret_cast<void**>(codecApi.ReleaseAndGetAddressOf()))) &&
      codecApi) {
    setUint32(codecApi.Get(), CODECAPI_AVEncCommonRateControlMode, eAVEncCommonRateControlMode_Quality);
    setUint32(codecApi.Get(), CODECAPI_AVEncCommonQuality, static_cast<ULONG>(startQuality));
    quality = startQuality;
    setBool(codecApi.Get(), CODECAPI_AVLowLatencyMode, true);
    const ULONG gop = gopSeconds < 1 ? static_cast<ULONG>(std::numeric_limits<int32_t>::max())
                                     : static_cast<ULONG>(std::max(fps, 1) * gopSeconds);
    setUint32(codecApi.Get(), CODECAPI_AVEncMPVGOPSize, gop);
    setUint32(codecApi.Get(), CODECAPI_AVEncCommonQualityVsSpeed, qualityVsSpeed());
  } else {
    codecApi.Reset();
  }

  if (asyncMft) {
    hr = transform.As(&eventGenerator);
    if (FAILED(hr) || !eventGenerator) {
      error = failedCall("IMFTransform::QueryInterface(IMFMediaEventGenerator)", FAILED(hr) ? hr : E_NOINTERFACE);
      return false;
    }
  }
  return true;
}

std::string MfEncoder::describeSettings() {
  if (!codecApi) return "no-codecapi";
  char text[96];
  std::snprintf(
      text, sizeof text, "rc=%lld q=%lld gop=%lld", readNumber(codecApi.Get(), CODECAPI_AVEncCommonRateControlMode),
      readNumber(codecApi.Get(), CODECAPI_AVEncCommonQuality), readNumber(codecApi.Get(), CODECAPI_AVEncMPVGOPSize));
  return text;
}

bool MfEncoder::setQuality(int32_t value) {
  value = std::clamp(value, 1, 100);
  if (value == quality) return true;
  if (!codecApi) return false;
  if (FAILED(setUint32(codecApi.Get(), CODECAPI_AVEncCommonQuality, static_cast<ULONG>(value)))) return false;
  quality = value;
  return true;
}

void MfEncoder::forceKeyFrame() {
  if (codecApi) setUint32(codecApi.Get(), CODECAPI_AVEncVideoForceKeyFrame, 1);
}

MfEncoder::LockedBuffer& MfEncoder::LockedBuffer::operator=(LockedBuffer&& other) noexcept {
  if (this == &other) return *this;
  reset();
  buffer.Swap(other.buffer);
  data = std::exchange(other.data, nullptr);
  return *this;
}

void MfEncoder::LockedBuffer::reset() {
  if (data) buffer->Unlock();
  data = nullptr;
  buffer.Reset();
}

uint8_t* MfEncoder::lendPicture() {
  if (!lent.data && transform) {
    ComPtr<IMFMediaBuffer> buffer;
    BYTE* data = nullptr;
    if (FAILED(MFCreateMemoryBuffer(pictureBytes(), &buffer)) || FAILED(buffer->Lock(&data, nullptr, nullptr)))
      return nullptr;
    lent.buffer = buffer;
    lent.data = data;
  }
  return lent.data;
}

bool MfEncoder::makeSample(const uint8_t* nv12, int64_t timestamp, ComPtr<IMFSample>& sample) {
  const DWORD size = pictureBytes();
  ComPtr<IMFMediaBuffer> buffer;
  if (nv12 && nv12 == lent.data) {
    // Converted straight into it: no copy, and it stays readable for
    // encoding the same picture again.
    taken = std::move(lent);
    buffer = taken.buffer;
  } else if (nv12 && nv12 == taken.data) {
    buffer = taken.buffer;
  } else {
    BYTE* data = nullptr;
    if (FAILED(MFCreateMemoryBuffer(size, &buffer)) || FAILED(buffer->Lock(&data, nullptr, nullptr))) return false;
    std::memcpy(data, nv12, size);
    buffer->Unlock();
  }
  buffer->SetCurrentLength(size);
  if (FAILED(MFCreateSample(&sample))) return false;
  sample->AddBuffer(buffer.Get());
  sample->SetSampleTime(sampleClock.sampleTime(timestamp, frameRate));
  sample->SetSampleDuration(10'000'000 / frameRate);
  return true;
}

void MfEncoder::startStream() {
  if (streaming || !transform) return;
  transform->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
  transform->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
  streaming = true;
}

void MfEncoder::beginStreaming(TimedOutput output) {
  if (!transform) return;
  endAsyncStream();
  asyncOutput = std::move(output);
  startStream();
  if (asyncMft) {
    asyncStopping = false;
    eventThread = std::thread([this] { runEvents(); });
  }
}

bool MfEncoder::encode(const uint8_t* nv12, int64_t timestamp, bool forceKey, const EncodedOutput& output) {
  if (!transform) return false;
  ComPtr<IMFSample> sample;
  if (!makeSample(nv12, timestamp, sample)) return false;
  if (asyncMft) {
    // The event thread hands the picture over when the transform asks.
    if (!eventThread.joinable()) return false;
    if (forceKey) forceKeyFrame();
    asyncQueue.push(std::move(sample), timestamp);
    return true;
  }
  startStream();
  if (forceKey) forceKeyFrame();
  const HRESULT hr = transform->ProcessInput(inputStreamId, sample.Get(), 0);
  if (hr == MF_E_NOTACCEPTING) {
    drain(output);
    return false;
  }
  if (FAILED(hr)) return false;
  drain(output);
  return true;
}

bool MfEncoder::processOneOutput(const EncodedOutput& output) {
  MFT_OUTPUT_STREAM_INFO info{};
  if (FAILED(transform->GetOutputStreamInfo(outputStreamId, &info))) return false;
  const bool providesSamples = (info.dwFlags & MFT_OUTPUT_STREAM_PROVIDES_SAMPLES) != 0;
  ComPtr<IMFSample> ours;
  if (!providesSamples) {
    ComPtr<IMFMediaBuffer> buffer;
    if (FAILED(MFCreateMemoryBuffer(info.cbSize, &buffer)) || FAILED(MFCreateSample(&ours))) return false;
    ours->AddBuffer(buffer.Get());
  }
  MFT_OUTPUT_DATA_BUFFER data{};
  data.dwStreamID = outputStreamId;
  data.pSample = ours.Get();
  DWORD status = 0;
  const HRESULT hr = transform->ProcessOutput(0, 1, &data, &status);
  if (data.pEvents) data.pEvents->Release();
  // A sample the transform allocated is ours to release. (Taken over
  // without Attach, which adds a reference in this toolchain's ComPtr.)
  ComPtr<IMFSample> given;
  if (providesSamples) *given.GetAddressOf() = data.pSample;
  if (FAILED(hr)) return false;
  IMFSample* sample = providesSamples ? given.Get() : ours.Get();
  if (sample) deliver(sample, output);
  return true;
}

void MfEncoder::drain(const EncodedOutput& output) {
  while (processOneOutput(output)) {
  }
}

void MfEncoder::deliver(IMFSample* sample, const EncodedOutput& output) {
  UINT32 cleanPoint = 0;
  if (FAILED(sample->GetUINT32(MFSampleExtension_CleanPoint, &cleanPoint))) cleanPoint = 0;
  ComPtr<IMFMediaBuffer> buffer;
  if (FAILED(sample->ConvertToContiguousBuffer(&buffer))) return;
  BYTE* data = nullptr;
  DWORD length = 0;
  if (FAILED(buffer->Lock(&data, nullptr, &length))) return;
  if (output && length != 0) output(data, length, cleanPoint != 0);
  buffer->Unlock();
}

void MfEncoder::runEvents() {
  for (;;) {
    ComPtr<IMFMediaEvent> event;
    if (FAILED(eventGenerator->GetEvent(0, &event)) || !event) return;
    MediaEventType type = MEUnknown;
    if (FAILED(event->GetType(&type))) continue;
    if (type == METransformNeedInput) {
      auto entry = asyncQueue.waitAndTake([this] { return asyncStopping.load(); });
      if (!entry) continue;
      lastAsyncTimestamp = entry->timestamp;
      transform->ProcessInput(inputStreamId, entry->picture.Get(), 0);
    } else if (type == METransformHaveOutput) {
      const int64_t timestamp = lastAsyncTimestamp.load();
      processOneOutput([&](const uint8_t* data, size_t length, bool key) {
        if (asyncOutput) asyncOutput(data, length, key, timestamp);
      });
    } else if (type == METransformDrainComplete) {
      return;
    }
  }
}

void MfEncoder::endAsyncStream() {
  if (!eventThread.joinable()) return;
  asyncStopping = true;
  asyncQueue.wake();
  transform->ProcessMessage(MFT_MESSAGE_NOTIFY_END_OF_STREAM, 0);
  transform->ProcessMessage(MFT_MESSAGE_COMMAND_DRAIN, 0);
  // The thread ends when the transform reports the drain complete.
  eventThread.join();
  asyncQueue.clear();
}

void MfEncoder::flush(const EncodedOutput& output) {
  if (!transform) return;
  endAsyncStream();
  if (streaming) {
    if (!asyncMft) {
      transform->ProcessMessage(MFT_MESSAGE_NOTIFY_END_OF_STREAM, 0);
      transform->ProcessMessage(MFT_MESSAGE_COMMAND_DRAIN, 0);
      drain(output);
    }
    transform->ProcessMessage(MFT_MESSAGE_NOTIFY_END_STREAMING, 0);
    streaming = false;
  }
}

bool MfEncoder::encodeSingle(const uint8_t* nv12, const EncodedOutput& output, std::string& error) {
  if (!transform) {
    error = "encodeOneForTest: encoder not initialised";
    return false;
  }
  ComPtr<IMFSample> sample;
  if (!makeSample(nv12, 0, sample)) {
    error = "encodeOneForTest: the picture could not be put into a sample";
    return false;
  }
  startStream();
  forceKeyFrame();
  const HRESULT hr = transform->ProcessInput(inputStreamId, sample.Get(), 0);
  if (FAILED(hr) && hr != MF_E_NOTACCEPTING) {
    error = failedCall("encodeOneForTest: ProcessInput", hr);
    transform->ProcessMessage(MFT_MESSAGE_NOTIFY_END_STREAMING, 0);
    streaming = false;
    return false;
  }
  drain(output);
  flush(output);
  return true;
}

// Media Foundation's encoder first; OpenH264 where the system has none (N
// editions without the Media Feature Pack, servers without the feature).
std::unique_ptr<EncoderBackend> makeEncoderBackend() {
  return std::make_unique<FirstAvailableEncoder>(std::vector<EncoderFactory>{
      [] { return std::make_unique<MfEncoder>(activateFirstH264Encoder); }, makeOpenH264Encoder});
}

} // namespace dravnok::video
