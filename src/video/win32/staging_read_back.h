#pragma once
// Duplicated desktops arrive as textures on the GPU: their rows reach the
// converter through a staging texture that the CPU can map.
#include "capture/screen_capturer.h"

#include <string>

namespace dravnok::video {

using capture::ComPtr;

class StagingReadBack {
public:
  // Copies `texture` into the staging texture and maps it; unmap()
  // releases the mapping.
  bool map(capture::ScreenCapturer& capturer, ID3D11Texture2D* texture, D3D11_MAPPED_SUBRESOURCE& mapped,
           D3D11_TEXTURE2D_DESC& desc, std::string& error);
  void unmap(capture::ScreenCapturer& capturer);

private:
  ComPtr<ID3D11Texture2D> stagingTexture;
  uint32_t stagingWidth = 0, stagingHeight = 0;
  bool stagingMapped = false;
};

} // namespace dravnok::video
