#pragma once
// One-off reads of a GPU texture's pixels through a staging copy.
#include <d3d11.h>

#include <cstdint>
#include <functional>

namespace dravnok::capture {

using TextureRows = std::function<void(const uint8_t* rows, uint32_t pitch, uint32_t width, uint32_t height)>;

// Copies `texture` into a CPU-readable staging texture and hands its BGRA
// rows to `read`; false when the copy cannot be made or mapped.
bool readTextureOnce(ID3D11Device* device, ID3D11DeviceContext* context, ID3D11Texture2D* texture,
                     const TextureRows& read);

} // namespace dravnok::capture
