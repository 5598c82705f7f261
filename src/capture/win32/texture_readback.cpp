#include "capture/win32/texture_readback.h"

#include <wrl/client.h>

namespace dravnok::capture {

bool readTextureOnce(ID3D11Device* device, ID3D11DeviceContext* context, ID3D11Texture2D* texture,
                     const TextureRows& read) {
  if (!device || !context || !texture) return false;
  D3D11_TEXTURE2D_DESC desc{};
  texture->GetDesc(&desc);
  desc.Usage = D3D11_USAGE_STAGING;
  desc.BindFlags = 0;
  desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
  desc.MiscFlags = 0;
  Microsoft::WRL::ComPtr<ID3D11Texture2D> staging;
  if (FAILED(device->CreateTexture2D(&desc, nullptr, &staging))) return false;
  context->CopyResource(staging.Get(), texture);
  D3D11_MAPPED_SUBRESOURCE mapped{};
  if (FAILED(context->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped))) return false;
  read(static_cast<const uint8_t*>(mapped.pData), mapped.RowPitch, desc.Width, desc.Height);
  context->Unmap(staging.Get(), 0);
  return true;
}

} // namespace dravnok::capture
