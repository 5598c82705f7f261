// Tries Desktop Duplication on every adapter and output, apart from the
// capturer, and says what each one delivers.
#include "capture/frame_brightness.h"
#include "capture/win32/texture_readback.h"
#include "diagnostics/modes.h"
#include "diagnostics/probe_line.h"

#include <d3d11.h>
#include <dxgi1_2.h>
#include <windows.h>
#include <wrl/client.h>

#include <cstdio>

namespace dravnok::diagnostics {
namespace {

using Microsoft::WRL::ComPtr;

// The brightness of one duplicated frame (every 8th pixel of every 8th
// row), or -1 when it could not be read back.
double frameBrightness(ID3D11Device* device, ID3D11DeviceContext* context, ID3D11Texture2D* texture) {
  double brightness = -1.0;
  capture::readTextureOnce(device, context, texture,
                           [&](const uint8_t* rows, uint32_t pitch, uint32_t width, uint32_t height) {
                             brightness = capture::meanBrightness(rows, pitch, width, height, 8);
                           });
  return brightness;
}

void probeOutput(ProbeResult& result, IDXGIOutputDuplication* duplication, ID3D11Device* device,
                 ID3D11DeviceContext* context) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    DXGI_OUTDUPL_FRAME_INFO info{};
    ComPtr<IDXGIResource> resource;
    HRESULT hr = duplication->AcquireNextFrame(200, &info, &resource);
    if (hr == DXGI_ERROR_WAIT_TIMEOUT) {
      Sleep(30);
      continue;
    }
    if (FAILED(hr)) return;
    ComPtr<ID3D11Texture2D> texture;
    if (resource && SUCCEEDED(resource.As(&texture))) {
      D3D11_TEXTURE2D_DESC desc{};
      texture->GetDesc(&desc);
      result.textureWidth = static_cast<int32_t>(desc.Width);
      result.textureHeight = static_cast<int32_t>(desc.Height);
      result.brightness = frameBrightness(device, context, texture.Get());
    }
    texture.Reset();
    resource.Reset();
    duplication->ReleaseFrame();
    if (result.brightness >= 0) return;
  }
}

} // namespace

int runDisplayProbe() {
  ComPtr<IDXGIFactory1> factory;
  if (FAILED(CreateDXGIFactory1(IID_PPV_ARGS(&factory)))) {
    std::fprintf(stderr, "probe: CreateDXGIFactory1 failed\n");
    return 1;
  }
  ComPtr<IDXGIAdapter1> adapter;
  for (UINT a = 0; factory->EnumAdapters1(a, adapter.ReleaseAndGetAddressOf()) != DXGI_ERROR_NOT_FOUND; ++a) {
    if (!adapter) continue;
    DXGI_ADAPTER_DESC1 adapterDesc{};
    adapter->GetDesc1(&adapterDesc);
    char name[160];
    std::snprintf(name, sizeof name, "%ls", adapterDesc.Description);
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0};
    ComPtr<ID3D11Device> device;
    ComPtr<ID3D11DeviceContext> context;
    HRESULT hr = D3D11CreateDevice(adapter.Get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                                   levels, ARRAYSIZE(levels), D3D11_SDK_VERSION, &device, nullptr, &context);
    if (FAILED(hr)) {
      std::fprintf(stderr, "adapter %u '%s': device create hr=0x%08lX\n", a, name, static_cast<unsigned long>(hr));
      continue;
    }
    UINT outputs = 0;
    ComPtr<IDXGIOutput> output;
    for (UINT o = 0; adapter->EnumOutputs(o, output.ReleaseAndGetAddressOf()) != DXGI_ERROR_NOT_FOUND; ++o) {
      ++outputs;
      if (!output) continue;
      DXGI_OUTPUT_DESC desc{};
      output->GetDesc(&desc);
      ProbeResult result;
      result.adapter = a;
      result.adapterName = name;
      result.output = o;
      result.attached = desc.AttachedToDesktop;
      result.descWidth = desc.DesktopCoordinates.right - desc.DesktopCoordinates.left;
      result.descHeight = desc.DesktopCoordinates.bottom - desc.DesktopCoordinates.top;
      ComPtr<IDXGIOutput1> output1;
      if (FAILED(output.As(&output1))) continue;
      ComPtr<IDXGIOutputDuplication> duplication;
      hr = output1->DuplicateOutput(device.Get(), &duplication);
      if (FAILED(hr)) {
        std::fprintf(stderr, "adapter %u '%s' output %u attached=%d %dx%d: DuplicateOutput hr=0x%08lX\n", a, name, o,
                     result.attached ? 1 : 0, result.descWidth, result.descHeight, static_cast<unsigned long>(hr));
        continue;
      }
      probeOutput(result, duplication.Get(), device.Get(), context.Get());
      std::fputs(probeLine(result).c_str(), stderr);
    }
    if (outputs == 0) std::fprintf(stderr, "adapter %u '%s': no outputs\n", a, name);
  }
  return 0;
}

} // namespace dravnok::diagnostics
