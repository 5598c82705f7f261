#pragma once
// An H.264 encoder transform that records what it is told and answers from a
// script: output samples, failures, and for asynchronous mode the events a
// hardware encoder sends.
#include <windows.h>

#include <mfapi.h>
#include <mferror.h>
#include <mftransform.h>
#include <strmif.h>
#include <wrl/client.h>

#include <atomic>
#include <chrono>
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

struct TakenInput {
  uint8_t firstByte;
  LONGLONG sampleTime;
};

class FakeTransform final : public IMFTransform, public ICodecAPI, public IMFMediaEventGenerator {
public:
  // Settings (before use).
  bool async = false;
  bool codecApi = true;
  bool providesSamples = false;
  HRESULT setOutputTypeResult = S_OK;
  HRESULT processInputResult = S_OK;

  // What it was told, under `mutex`.
  std::mutex mutex;
  std::vector<std::string> calls;
  std::vector<std::pair<GUID, VARIANT>> settings;
  std::vector<TakenInput> inputs;
  std::deque<ScriptedOutput> outputs;
  ComPtr<IMFMediaType> inputType, outputType;
  ComPtr<IMFAttributes> attributes;
  // The last sample this transform handed out itself.
  ComPtr<IMFSample> lastGiven;
  ComPtr<IMFMediaEvent> lastEvent;

  FakeTransform() { MFCreateAttributes(&attributes, 4); }
  ~FakeTransform() {
    for (auto& entry : settings) VariantClear(&entry.second);
  }

  // The value last set for `key`, or -1.
  long long setting(const GUID& key) {
    std::lock_guard lock(mutex);
    for (auto it = settings.rbegin(); it != settings.rend(); ++it)
      if (it->first == key) return it->second.vt == VT_BOOL ? (it->second.boolVal ? 1 : 0) : it->second.ulVal;
    return -1;
  }
  int count(const std::string& call) {
    std::lock_guard lock(mutex);
    int n = 0;
    for (const auto& c : calls) n += c == call;
    return n;
  }
  void queueEvent(MediaEventType type) {
    ComPtr<IMFMediaEvent> event;
    MFCreateMediaEvent(type, GUID_NULL, S_OK, nullptr, &event);
    {
      std::lock_guard lock(eventMutex);
      events.push_back(event);
    }
    eventReady.notify_all();
  }
  // Waits until `n` inputs were taken (asynchronous mode).
  bool waitForInputs(size_t n) {
    for (int i = 0; i < 400; ++i) {
      {
        std::lock_guard lock(mutex);
        if (inputs.size() >= n) return true;
      }
      Sleep(5);
    }
    return false;
  }
  // The stream messages and inputs, in order.
  std::vector<std::string> sequence() {
    std::lock_guard lock(mutex);
    std::vector<std::string> result;
    for (const auto& call : calls)
      if (call != "ProcessOutput" && call.rfind("Set", 0) != 0) result.push_back(call);
    return result;
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IMFTransform)
      *out = static_cast<IMFTransform*>(this);
    else if (riid == IID_ICodecAPI && codecApi)
      *out = static_cast<ICodecAPI*>(this);
    else if (riid == IID_IMFMediaEventGenerator && async)
      *out = static_cast<IMFMediaEventGenerator*>(this);
    else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
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
    if (id != 7) return MF_E_INVALIDSTREAMNUMBER;
    *info = {};
    info->dwFlags = providesSamples ? MFT_OUTPUT_STREAM_PROVIDES_SAMPLES : 0;
    info->cbSize = 4096;
    return S_OK;
  }
  STDMETHODIMP GetAttributes(IMFAttributes** out) override {
    if (async) attributes->SetUINT32(MF_TRANSFORM_ASYNC, 1);
    return attributes.CopyTo(out);
  }
  STDMETHODIMP GetInputStreamAttributes(DWORD, IMFAttributes**) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputStreamAttributes(DWORD, IMFAttributes**) override { return E_NOTIMPL; }
  STDMETHODIMP DeleteInputStream(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP AddInputStreams(DWORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetInputAvailableType(DWORD, DWORD, IMFMediaType**) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputAvailableType(DWORD, DWORD, IMFMediaType**) override { return E_NOTIMPL; }
  STDMETHODIMP SetInputType(DWORD id, IMFMediaType* type, DWORD) override {
    record("SetInputType");
    if (id != 3) return MF_E_INVALIDSTREAMNUMBER;
    inputType = type;
    return S_OK;
  }
  STDMETHODIMP SetOutputType(DWORD id, IMFMediaType* type, DWORD) override {
    record("SetOutputType");
    if (id != 7) return MF_E_INVALIDSTREAMNUMBER;
    outputType = type;
    return setOutputTypeResult;
  }
  STDMETHODIMP GetInputCurrentType(DWORD, IMFMediaType**) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputCurrentType(DWORD, IMFMediaType**) override { return E_NOTIMPL; }
  STDMETHODIMP GetInputStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetOutputStatus(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetOutputBounds(LONGLONG, LONGLONG) override { return E_NOTIMPL; }
  STDMETHODIMP ProcessEvent(DWORD, IMFMediaEvent*) override { return E_NOTIMPL; }
  STDMETHODIMP ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR) override {
    switch (message) {
    case MFT_MESSAGE_NOTIFY_BEGIN_STREAMING:
      record("begin-streaming");
      break;
    case MFT_MESSAGE_NOTIFY_START_OF_STREAM:
      record("start-of-stream");
      break;
    case MFT_MESSAGE_NOTIFY_END_OF_STREAM:
      record("end-of-stream");
      break;
    case MFT_MESSAGE_COMMAND_DRAIN:
      record("drain");
      if (async) queueEvent(METransformDrainComplete);
      break;
    case MFT_MESSAGE_NOTIFY_END_STREAMING:
      record("end-streaming");
      break;
    default:
      record("other-message");
    }
    return S_OK;
  }
  STDMETHODIMP ProcessInput(DWORD id, IMFSample* sample, DWORD) override {
    if (id != 3) return MF_E_INVALIDSTREAMNUMBER;
    ComPtr<IMFMediaBuffer> buffer;
    BYTE* data = nullptr;
    LONGLONG time = -1;
    sample->GetSampleTime(&time);
    sample->ConvertToContiguousBuffer(&buffer);
    buffer->Lock(&data, nullptr, nullptr);
    const uint8_t first = data[0];
    buffer->Unlock();
    {
      std::lock_guard lock(mutex);
      calls.push_back("ProcessInput");
      if (FAILED(processInputResult)) return processInputResult;
    }
    // A hardware encoder announces each picture's output; announced before
    // the input is counted, so a test that saw the input sees the event too.
    if (async) queueEvent(METransformHaveOutput);
    std::lock_guard lock(mutex);
    inputs.push_back({first, time});
    return S_OK;
  }
  STDMETHODIMP ProcessOutput(DWORD, DWORD count, MFT_OUTPUT_DATA_BUFFER* buffers, DWORD* status) override {
    std::lock_guard lock(mutex);
    calls.push_back("ProcessOutput");
    *status = 0;
    if (count != 1 || buffers[0].dwStreamID != 7) return E_INVALIDARG;
    if (outputs.empty()) return MF_E_TRANSFORM_NEED_MORE_INPUT;
    ScriptedOutput next = outputs.front();
    outputs.pop_front();
    // Every answer carries an event collection the caller must release.
    MFCreateMediaEvent(MEUnknown, GUID_NULL, S_OK, nullptr, &lastEvent);
    ComPtr<IMFCollection> collection;
    MFCreateCollection(&collection);
    collection->AddElement(lastEvent.Get());
    buffers[0].pEvents = collection.Detach();
    if (FAILED(next.result)) return next.result;
    IMFSample* sample = buffers[0].pSample;
    if (providesSamples) {
      if (sample) return E_INVALIDARG;
      MFCreateSample(&lastGiven);
      ComPtr<IMFMediaBuffer> buffer;
      MFCreateMemoryBuffer(static_cast<DWORD>(next.bytes.size() + 1), &buffer);
      lastGiven->AddBuffer(buffer.Get());
      sample = lastGiven.Get();
      sample->AddRef(); // the caller's reference
      buffers[0].pSample = sample;
    }
    if (!sample) return E_INVALIDARG;
    ComPtr<IMFMediaBuffer> buffer;
    sample->GetBufferByIndex(0, &buffer);
    BYTE* data = nullptr;
    DWORD capacity = 0;
    buffer->Lock(&data, &capacity, nullptr);
    std::copy(next.bytes.begin(), next.bytes.end(), data);
    buffer->Unlock();
    buffer->SetCurrentLength(static_cast<DWORD>(next.bytes.size()));
    sample->SetUINT32(MFSampleExtension_CleanPoint, next.cleanPoint ? 1 : 0);
    return S_OK;
  }

  // ICodecAPI
  STDMETHODIMP IsSupported(const GUID*) override { return S_OK; }
  STDMETHODIMP IsModifiable(const GUID*) override { return S_OK; }
  STDMETHODIMP GetParameterRange(const GUID*, VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetParameterValues(const GUID*, VARIANT**, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetDefaultValue(const GUID*, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetValue(const GUID* key, VARIANT* value) override {
    std::lock_guard lock(mutex);
    for (auto it = settings.rbegin(); it != settings.rend(); ++it)
      if (it->first == *key) return VariantCopy(value, &it->second);
    return E_FAIL;
  }
  STDMETHODIMP SetValue(const GUID* key, VARIANT* value) override {
    std::lock_guard lock(mutex);
    calls.push_back("SetValue");
    VARIANT copy;
    VariantInit(&copy);
    VariantCopy(&copy, value);
    settings.emplace_back(*key, copy);
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
  void record(const char* call) {
    std::lock_guard lock(mutex);
    calls.emplace_back(call);
  }

  std::atomic<ULONG> refs{1};
  std::mutex eventMutex;
  std::condition_variable eventReady;
  std::deque<ComPtr<IMFMediaEvent>> events;
};

} // namespace dravnok::video::testing
