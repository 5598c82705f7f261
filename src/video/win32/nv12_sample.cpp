#include "video/win32/nv12_sample.h"

#include "capture/win32/hresult_text.h"

#include <algorithm>

namespace dravnok::video {

using capture::failedCall;

Nv12SampleConverter::Nv12SampleConverter(Nv12Converter& converter)
    : converter(converter), clock(capture::timestampFrequency()) {}

bool Nv12SampleConverter::mapStaging(capture::ScreenCapturer& capturer, ID3D11Texture2D* texture,
                                     D3D11_MAPPED_SUBRESOURCE& mapped, D3D11_TEXTURE2D_DESC& desc, std::string& error) {
  texture->GetDesc(&desc);
  if (!stagingTexture || stagingWidth != desc.Width || stagingHeight != desc.Height) {
    stagingTexture.Reset();
    D3D11_TEXTURE2D_DESC staging = desc;
    staging.Usage = D3D11_USAGE_STAGING;
    staging.BindFlags = 0;
    staging.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    staging.MiscFlags = 0;
    staging.MipLevels = 1;
    staging.ArraySize = 1;
    staging.SampleDesc.Count = 1;
    staging.SampleDesc.Quality = 0;
    HRESULT hr = capturer.device->CreateTexture2D(&staging, nullptr, &stagingTexture);
    if (FAILED(hr)) {
      error = failedCall("ID3D11Device::CreateTexture2D(staging)", hr);
      return false;
    }
    stagingWidth = desc.Width;
    stagingHeight = desc.Height;
  }
  capturer.context->CopyResource(stagingTexture.Get(), texture);
  HRESULT hr = capturer.context->Map(stagingTexture.Get(), 0, D3D11_MAP_READ, 0, &mapped);
  if (FAILED(hr)) {
    error = failedCall("ID3D11DeviceContext::Map(staging)", hr);
    return false;
  }
  stagingMapped = true;
  return true;
}

void Nv12SampleConverter::unmapStaging(capture::ScreenCapturer& capturer) {
  if (stagingMapped) capturer.context->Unmap(stagingTexture.Get(), 0);
  stagingMapped = false;
}

bool Nv12SampleConverter::convertFrameToNv12Sample(capture::ScreenCapturer* capturer,
                                                   const capture::CapturedFrame& frame, int frameRate,
                                                   ComPtr<IMFSample>& sample, std::string& error) {
  const uint8_t* source = frame.pixels;
  int32_t pitch = static_cast<int32_t>(frame.pitch);
  uint32_t sourceWidth = frame.width, sourceHeight = frame.height;
  if (!source) {
    if (!frame.texture || !capturer) {
      error = "convertFrameToNv12Sample: no source texture / capture device";
      return false;
    }
    if (!capturer->device || !capturer->context) {
      error = "convertFrameToNv12Sample: capture device/context unavailable";
      return false;
    }
    D3D11_MAPPED_SUBRESOURCE mapped{};
    D3D11_TEXTURE2D_DESC desc{};
    if (!mapStaging(*capturer, frame.texture.Get(), mapped, desc, error)) return false;
    source = static_cast<const uint8_t*>(mapped.pData);
    pitch = static_cast<int32_t>(mapped.RowPitch);
    sourceWidth = desc.Width;
    sourceHeight = desc.Height;
  }
  auto unmap = [&] {
    if (capturer) unmapStaging(*capturer);
  };
  const DWORD size = static_cast<DWORD>(converter.pictureSize());
  ComPtr<IMFMediaBuffer> buffer;
  HRESULT hr = MFCreateMemoryBuffer(size, &buffer);
  if (FAILED(hr)) {
    unmap();
    error = failedCall("MFCreateMemoryBuffer(nv12)", hr);
    return false;
  }
  BYTE* dest = nullptr;
  hr = buffer->Lock(&dest, nullptr, nullptr);
  if (FAILED(hr)) {
    unmap();
    error = failedCall("IMFMediaBuffer::Lock(nv12)", hr);
    return false;
  }
  converter.convert(source, pitch, sourceWidth, sourceHeight, dest);
  buffer->Unlock();
  buffer->SetCurrentLength(size);
  unmap();
  hr = MFCreateSample(&sample);
  if (FAILED(hr)) {
    error = failedCall("MFCreateSample", hr);
    return false;
  }
  sample->AddBuffer(buffer.Get());
  lastBuffer = buffer;
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  const int rate = std::max(frameRate, 1);
  sample->SetSampleTime(clock.sampleTime(now.QuadPart, rate));
  sample->SetSampleDuration(10'000'000 / rate);
  return true;
}

} // namespace dravnok::video
