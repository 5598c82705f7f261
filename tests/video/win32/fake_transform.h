#pragma once
// An H.264 encoder transform on input stream 3 and output stream 7 that
// records what it is told and answers from a script; asynchronous, it sends
// the events a hardware encoder would.
#include <windows.h>

#include <codecapi.h>
#include <mfapi.h>
#include <mferror.h>
#include <mftransform.h>
#include <strmif.h>
#include <wrl/client.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace dravnok::video::testing {

using Microsoft::WRL::ComPtr;

struct ScriptedOutput {
  HRESULT result = S_OK;
  std::vector<uint8_t> bytes;
  bool cleanPoint = false;
};

class FakeTransform final : public IMFTransform, public ICodecAPI, public IMFMediaEventGenerator {
public:
  bool async = false, codecApi = true, providesSamples = false;
  HRESULT setOutputTypeResult = S_OK, processInputResult = S_OK;

  // Type, stream and key-frame calls, in order.
  std::vector<std::string> calls;
  std::vector<std::pair<GUID, ULONG>> settings;
  // The value of the first byte of every picture taken, where its bytes lie,
  // its sample time and duration.
  std::vector<uint8_t> inputs;
  std::vector<const uint8_t*> addresses;
  std::vector<LONGLONG> times, durations;
  std::deque<ScriptedOutput> outputs;
  ComPtr<IMFMediaType> inputType, outputType;
  // The last sample this transform handed out itself.
  ComPtr<IMFSample> lastGiven;
  ComPtr<IMFAttributes> attributes;
  std::atomic<size_t> taken{0}; // pictures, counted last

  void queueEvent(MediaEventType type) {
    ComPtr<IMFMediaEvent> event;
    MFCreateMediaEvent(type, GUID_NULL, S_OK, nullptr, &event);
    std::lock_guard lock(eventMutex);
    events.push_back(event);
    eventReady.notify_all();
  }
  bool waitForInputs(size_t n) {
    for (int i = 0; i < 400 && taken < n; ++i) Sleep(5);
    return taken >= n;
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IMFTransform)
      *out = static_cast<IMFTransform*>(this);
    else if (riid == IID_ICodecAPI && codecApi)
      *out = static_cast<ICodecAPI*>(this);
    else if (riid == IID_IMFMediaEventGenerator && async)
      *out = static_cast<IMFMediaEventGenerator*>(this);
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs;
    if (left == 0) delete this;
    return left;
  }

  // IMFTransform
  STDMETHODIMP GetStreamLimits(DWORD*, DWORD*, DWORD*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetStreamCount(DWORD*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetStreamIDs(DWORD, DWORD* input, DWORD, DWORD* output) override {
    *input = 3;
    *output = 7;
    return S_OK;
  }
  STDMETHODIMP GetInputStreamInfo(DWORD, MFT_INPUT_STREAM_INFO*) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputStreamInfo(DWORD id, MFT_OUTPUT_STREAM_INFO* info) override {
    *info = {providesSamples ? DWORD{MFT_OUTPUT_STREAM_PROVIDES_SAMPLES} : 0, 4096, 0};
    return id == 7 ? S_OK : MF_E_INVALIDSTREAMNUMBER;
  }
  STDMETHODIMP GetAttributes(IMFAttributes** out) override {
    if (!attributes) MFCreateAttributes(&attributes, 2);
    attributes->SetUINT32(MF_TRANSFORM_ASYNC, async);
    return attributes.CopyTo(out);
  }
  STDMETHODIMP GetInputStreamAttributes(DWORD, IMFAttributes**) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputStreamAttributes(DWORD, IMFAttributes**) override { return E_NOTIMPL; }
  STDMETHODIMP DeleteInputStream(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP AddInputStreams(DWORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetInputAvailableType(DWORD, DWORD, IMFMediaType**) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputAvailableType(DWORD, DWORD, IMFMediaType**) override { return E_NOTIMPL; }
  STDMETHODIMP SetInputType(DWORD id, IMFMediaType* type, DWORD) override {
    calls.emplace_back("SetInputType");
    inputType = type;
    return id == 3 ? S_OK : MF_E_INVALIDSTREAMNUMBER;
  }
  STDMETHODIMP SetOutputType(DWORD id, IMFMediaType* type, DWORD) override {
    calls.emplace_back("SetOutputType");
    outputType = type;
    return id == 7 ? setOutputTypeResult : MF_E_INVALIDSTREAMNUMBER;
  }
  STDMETHODIMP GetInputCurrentType(DWORD, IMFMediaType**) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputCurrentType(DWORD, IMFMediaType**) override { return E_NOTIMPL; }
  STDMETHODIMP GetInputStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputStatus(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetOutputBounds(LONGLONG, LONGLONG) override { return E_NOTIMPL; }
  STDMETHODIMP ProcessEvent(DWORD, IMFMediaEvent*) override { return E_NOTIMPL; }
  STDMETHODIMP ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR) override {
    calls.emplace_back(message == MFT_MESSAGE_NOTIFY_BEGIN_STREAMING   ? "begin-streaming"
                       : message == MFT_MESSAGE_NOTIFY_START_OF_STREAM ? "start-of-stream"
                       : message == MFT_MESSAGE_NOTIFY_END_OF_STREAM   ? "end-of-stream"
                       : message == MFT_MESSAGE_COMMAND_DRAIN          ? "drain"
                       : message == MFT_MESSAGE_NOTIFY_END_STREAMING   ? "end-streaming"
                                                                       : "other-message");
    if (async && message == MFT_MESSAGE_COMMAND_DRAIN) queueEvent(METransformDrainComplete);
    return S_OK;
  }
  STDMETHODIMP ProcessInput(DWORD, IMFSample* sample, DWORD) override {
    calls.emplace_back("ProcessInput");
    if (FAILED(processInputResult)) return processInputResult;
    ComPtr<IMFMediaBuffer> buffer;
    BYTE* data = nullptr;
    LONGLONG time = -1, duration = -1;
    sample->GetSampleTime(&time);
    sample->GetSampleDuration(&duration);
    sample->GetBufferByIndex(0, &buffer);
    buffer->Lock(&data, nullptr, nullptr);
    inputs.push_back(data[0]);
    addresses.push_back(data);
    times.push_back(time);
    durations.push_back(duration);
    // A hardware encoder announces each picture's output.
    if (async) queueEvent(METransformHaveOutput);
    ++taken;
    return buffer->Unlock();
  }
  STDMETHODIMP ProcessOutput(DWORD, DWORD count, MFT_OUTPUT_DATA_BUFFER* buffers, DWORD* status) override {
    *status = 0;
    // Samples come from the caller unless this transform provides them.
    if (count != 1 || buffers[0].dwStreamID != 7 || providesSamples == bool(buffers[0].pSample)) return E_INVALIDARG;
    if (outputs.empty()) return MF_E_TRANSFORM_NEED_MORE_INPUT;
    const ScriptedOutput next = outputs.front();
    outputs.pop_front();
    if (FAILED(next.result)) return next.result;
    ComPtr<IMFMediaBuffer> buffer;
    if (providesSamples) {
      MFCreateSample(&lastGiven);
      MFCreateMemoryBuffer(4096, &buffer);
      lastGiven->AddBuffer(buffer.Get());
      lastGiven.CopyTo(&buffers[0].pSample);
    }
    BYTE* data = nullptr;
    buffers[0].pSample->GetBufferByIndex(0, buffer.ReleaseAndGetAddressOf());
    buffer->Lock(&data, nullptr, nullptr);
    std::copy(next.bytes.begin(), next.bytes.end(), data);
    buffer->Unlock();
    buffer->SetCurrentLength(static_cast<DWORD>(next.bytes.size()));
    return buffers[0].pSample->SetUINT32(MFSampleExtension_CleanPoint, next.cleanPoint);
  }

  // ICodecAPI: only numbers and flags are set.
  STDMETHODIMP IsSupported(const GUID*) override { return S_OK; }
  STDMETHODIMP IsModifiable(const GUID*) override { return S_OK; }
  STDMETHODIMP GetParameterRange(const GUID*, VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetParameterValues(const GUID*, VARIANT**, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetDefaultValue(const GUID*, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetValue(const GUID*, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP SetValue(const GUID* key, VARIANT* value) override {
    if (*key == CODECAPI_AVEncVideoForceKeyFrame) calls.emplace_back("key-frame");
    settings.emplace_back(*key, value->vt == VT_BOOL ? value->boolVal != VARIANT_FALSE : value->ulVal);
    return S_OK;
  }
  STDMETHODIMP RegisterForEvent(const GUID*, LONG_PTR) override { return E_NOTIMPL; }
  STDMETHODIMP UnregisterForEvent(const GUID*) override { return E_NOTIMPL; }
  STDMETHODIMP SetAllDefaults() override { return E_NOTIMPL; }
  STDMETHODIMP SetValueWithNotify(const GUID*, VARIANT*, GUID**, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP SetAllDefaultsWithNotify(GUID**, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetAllSettings(IStream*) override { return E_NOTIMPL; }
  STDMETHODIMP SetAllSettings(IStream*) override { return E_NOTIMPL; }
  STDMETHODIMP SetAllSettingsWithNotify(IStream*, GUID**, ULONG*) override { return E_NOTIMPL; }

  // IMFMediaEventGenerator
  STDMETHODIMP GetEvent(DWORD, IMFMediaEvent** out) override {
    std::unique_lock lock(eventMutex);
    if (!eventReady.wait_for(lock, std::chrono::seconds(10), [&] { return !events.empty(); }))
      return MF_E_SHUTDOWN; // a test that forgot an event must not hang
    *out = events.front().Detach();
    events.pop_front();
    return S_OK;
  }
  STDMETHODIMP BeginGetEvent(IMFAsyncCallback*, IUnknown*) override { return E_NOTIMPL; }
  STDMETHODIMP EndGetEvent(IMFAsyncResult*, IMFMediaEvent**) override { return E_NOTIMPL; }
  STDMETHODIMP QueueEvent(MediaEventType, REFGUID, HRESULT, const PROPVARIANT*) override { return E_NOTIMPL; }

private:
  std::atomic<ULONG> refs{1};
  std::mutex eventMutex;
  std::condition_variable eventReady;
  std::deque<ComPtr<IMFMediaEvent>> events;
};

} // namespace dravnok::video::testing
