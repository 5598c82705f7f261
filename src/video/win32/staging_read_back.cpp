#include "video/win32/staging_read_back.h"

#include "capture/win32/hresult_text.h"

namespace dravnok::video {

using capture::failedCall;

bool StagingReadBack::map(capture::ScreenCapturer& capturer, ID3D11Texture2D* texture, D3D11_MAPPED_SUBRESOURCE& mapped,
                          D3D11_TEXTURE2D_DESC& desc, std::string& error) {
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

void StagingReadBack::unmap(capture::ScreenCapturer& capturer) {
  if (stagingMapped) capturer.context->Unmap(stagingTexture.Get(), 0);
  stagingMapped = false;
}

} // namespace dravnok::video
