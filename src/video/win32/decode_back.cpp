#include "video/decode_back.h"

#include <windows.h>

#include <mfapi.h>
#include <mferror.h>
#include <mftransform.h>
#include <wmcodecdsp.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>

namespace dravnok::video {

using Microsoft::WRL::ComPtr;

namespace {

std::string hresultDecimal(const char* what, HRESULT hr) { return what + std::to_string(static_cast<long>(hr)); }

// Picks the decoder's NV12 output and notes the picture size it decodes to.
bool selectNv12Output(IMFTransform* decoder, DecodedPicture& out) {
  for (DWORD index = 0;; ++index) {
    ComPtr<IMFMediaType> type;
    if (FAILED(decoder->GetOutputAvailableType(0, index, &type))) return false;
    GUID subtype{};
    if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) || subtype != MFVideoFormat_NV12) continue;
    if (FAILED(decoder->SetOutputType(0, type.Get(), 0))) continue;
    UINT64 size = 0;
    if (SUCCEEDED(type->GetUINT64(MF_MT_FRAME_SIZE, &size))) {
      out.width = static_cast<int>(size >> 32);
      out.height = static_cast<int>(size & 0xffffffffu);
    }
    return true;
  }
}

double lumaMean(IMFSample* sample, const DecodedPicture& picture) {
  ComPtr<IMFMediaBuffer> buffer;
  if (FAILED(sample->ConvertToContiguousBuffer(&buffer))) return -1.0;
  BYTE* data = nullptr;
  DWORD length = 0;
  if (FAILED(buffer->Lock(&data, nullptr, &length))) return -1.0;
  const size_t count =
      std::min<size_t>(length, static_cast<size_t>(std::max(picture.width, 0)) * std::max(picture.height, 0));
  uint64_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum += data[i];
  buffer->Unlock();
  return count ? static_cast<double>(sum) / static_cast<double>(count) : -1.0;
}

bool decodeWithMediaFoundation(std::span<const uint8_t> accessUnit, int width, int height, DecodedPicture& out,
                               std::string& error) {
  out = {};
  ComPtr<IMFTransform> decoder;
  if (FAILED(CoCreateInstance(CLSID_CMSH264DecoderMFT, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&decoder)))) {
    error = "CoCreateInstance(H264 decoder MFT) failed";
    return false;
  }
  const UINT32 w = static_cast<UINT32>(std::max(width, 2)), h = static_cast<UINT32>(std::max(height, 2));
  ComPtr<IMFMediaType> inputType;
  if (FAILED(MFCreateMediaType(&inputType))) {
    error = "decoder SetInputType(H264) failed";
    return false;
  }
  inputType->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  inputType->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
  inputType->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
  inputType->SetUINT64(MF_MT_FRAME_SIZE, (static_cast<UINT64>(w) << 32) | h);
  inputType->SetUINT64(MF_MT_FRAME_RATE, (UINT64{30} << 32) | 1);
  if (FAILED(decoder->SetInputType(0, inputType.Get(), 0))) {
    error = "decoder SetInputType(H264) failed";
    return false;
  }

  ComPtr<IMFMediaBuffer> buffer;
  ComPtr<IMFSample> sample;
  BYTE* data = nullptr;
  const DWORD size = static_cast<DWORD>(accessUnit.size());
  if (FAILED(MFCreateMemoryBuffer(size, &buffer)) || FAILED(buffer->Lock(&data, nullptr, nullptr))) {
    error = "decoder ProcessInput hr=" + std::to_string(static_cast<long>(E_OUTOFMEMORY));
    return false;
  }
  if (size) std::memcpy(data, accessUnit.data(), size);
  buffer->Unlock();
  buffer->SetCurrentLength(size);
  if (FAILED(MFCreateSample(&sample))) {
    error = "decoder ProcessInput hr=" + std::to_string(static_cast<long>(E_OUTOFMEMORY));
    return false;
  }
  sample->AddBuffer(buffer.Get());
  sample->SetSampleTime(0);
  sample->SetSampleDuration(333'333);
  decoder->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
  decoder->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
  HRESULT hr = decoder->ProcessInput(0, sample.Get(), 0);
  if (FAILED(hr)) {
    error = hresultDecimal("decoder ProcessInput hr=", hr);
    return false;
  }
  selectNv12Output(decoder.Get(), out);
  decoder->ProcessMessage(MFT_MESSAGE_NOTIFY_END_OF_STREAM, 0);
  decoder->ProcessMessage(MFT_MESSAGE_COMMAND_DRAIN, 0);

  for (int call = 0; call < 24; ++call) {
    MFT_OUTPUT_STREAM_INFO info{};
    decoder->GetOutputStreamInfo(0, &info);
    const bool providesSamples = (info.dwFlags & MFT_OUTPUT_STREAM_PROVIDES_SAMPLES) != 0;
    ComPtr<IMFSample> ours;
    if (!providesSamples) {
      DWORD bytes = info.cbSize;
      if (bytes == 0) bytes = static_cast<DWORD>(static_cast<size_t>(w) * h * 3 / 2 + 4096);
      ComPtr<IMFMediaBuffer> outBuffer;
      if (FAILED(MFCreateMemoryBuffer(bytes, &outBuffer)) || FAILED(MFCreateSample(&ours))) {
        error = hresultDecimal("decoder ProcessOutput hr=", E_OUTOFMEMORY);
        return false;
      }
      ours->AddBuffer(outBuffer.Get());
    }
    MFT_OUTPUT_DATA_BUFFER output{};
    output.pSample = ours.Get();
    DWORD status = 0;
    hr = decoder->ProcessOutput(0, 1, &output, &status);
    if (output.pEvents) output.pEvents->Release();
    ComPtr<IMFSample> given;
    if (providesSamples) *given.GetAddressOf() = output.pSample;
    if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT) continue;
    if (hr == MF_E_TRANSFORM_TYPE_NOT_SET || hr == MF_E_TRANSFORM_STREAM_CHANGE) {
      if (!selectNv12Output(decoder.Get(), out)) {
        error = "decoder exposes no NV12 output type";
        return false;
      }
      continue;
    }
    if (FAILED(hr)) {
      error = hresultDecimal("decoder ProcessOutput hr=", hr);
      return false;
    }
    IMFSample* picture = providesSamples ? given.Get() : ours.Get();
    if (!picture) continue;
    out.lumaMean = lumaMean(picture, out);
    return true;
  }
  error = "decoder produced no frame";
  return false;
}

} // namespace

bool decodeBack(std::span<const uint8_t> accessUnit, int width, int height, DecodedPicture& out, std::string& error) {
  std::string systemError;
  if (decodeWithMediaFoundation(accessUnit, width, height, out, systemError)) return true;
  std::string fallbackError;
  if (decodeBackWithOpenH264(accessUnit, out, fallbackError)) return true;
  error = systemError + "; OpenH264: " + fallbackError;
  return false;
}

} // namespace dravnok::video
