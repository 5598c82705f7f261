#include "capture/win32/screen_capturer.h"

#include "capture/encode_size.h"
#include "capture/frame_brightness.h"
#include "capture/win32/hresult_text.h"
#include "capture/win32/texture_readback.h"

#include <cstring>

namespace dravnok::capture {
namespace {

constexpr D3D_FEATURE_LEVEL kFeatureLevels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                                D3D_FEATURE_LEVEL_10_0};
constexpr DWORD kCaptureBlt = SRCCOPY | CAPTUREBLT;

bool attachedToDesktop(IDXGIOutput* output, DXGI_OUTPUT_DESC& desc) {
  return SUCCEEDED(output->GetDesc(&desc)) && desc.AttachedToDesktop;
}

bool isRotated(DXGI_MODE_ROTATION rotation) {
  return rotation != DXGI_MODE_ROTATION_UNSPECIFIED && rotation != DXGI_MODE_ROTATION_IDENTITY;
}

BOOL CALLBACK addMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM context) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (GetMonitorInfoW(monitor, &info)) {
    const RECT& r = info.rcMonitor;
    reinterpret_cast<std::vector<MonitorInfo>*>(context)->push_back(
        {r.left, r.top, r.right - r.left, r.bottom - r.top, (info.dwFlags & MONITORINFOF_PRIMARY) != 0});
  }
  return TRUE;
}

int64_t performanceCounter() {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

} // namespace

int64_t timestampFrequency() {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart;
}

ScreenCapturer::~ScreenCapturer() {
  if (acquisition.frameHeld && duplication) duplication->ReleaseFrame();
  heldTexture.Reset();
  heldResource.Reset();
  releaseGdiObjects();
  acquisition.monitors.clear();
  previousFrame.clear();
  uploadTexture.Reset();
  output.Reset();
  duplication.Reset();
  context.Reset();
  device.Reset();
}

bool ScreenCapturer::createDevice(std::string& error) {
  ComPtr<IDXGIFactory1> factory;
  if (SUCCEEDED(CreateDXGIFactory1(IID_PPV_ARGS(&factory)))) {
    ComPtr<IDXGIAdapter1> adapter;
    for (UINT a = 0; factory->EnumAdapters1(a, adapter.ReleaseAndGetAddressOf()) != DXGI_ERROR_NOT_FOUND; ++a) {
      if (!adapter) continue;
      bool attached = false;
      ComPtr<IDXGIOutput> candidate;
      for (UINT o = 0; !attached && adapter->EnumOutputs(o, candidate.ReleaseAndGetAddressOf()) != DXGI_ERROR_NOT_FOUND;
           ++o) {
        DXGI_OUTPUT_DESC desc{};
        attached = candidate && attachedToDesktop(candidate.Get(), desc);
      }
      if (!attached) continue;
      context.Reset();
      device.Reset();
      if (SUCCEEDED(D3D11CreateDevice(adapter.Get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                                      kFeatureLevels, ARRAYSIZE(kFeatureLevels), D3D11_SDK_VERSION, &device, nullptr,
                                      &context))) {
        return true;
      }
    }
  }
  context.Reset();
  device.Reset();
  HRESULT hr =
      D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, kFeatureLevels,
                        ARRAYSIZE(kFeatureLevels), D3D11_SDK_VERSION, &device, nullptr, &context);
  if (FAILED(hr)) {
    error = failedCall("D3D11CreateDevice (no desktop-attached adapter)", hr);
    return false;
  }
  return true;
}

bool ScreenCapturer::openPrimaryDuplication(std::string& error) {
  ComPtr<IDXGIDevice> dxgiDevice;
  HRESULT hr = device.As(&dxgiDevice);
  if (FAILED(hr)) {
    error = failedCall("ID3D11Device::QueryInterface(IDXGIDevice)", hr);
    return false;
  }
  ComPtr<IDXGIAdapter> adapter;
  hr = dxgiDevice->GetAdapter(&adapter);
  if (FAILED(hr)) {
    error = failedCall("IDXGIDevice::GetAdapter", hr);
    return false;
  }
  ComPtr<IDXGIOutput> found;
  DXGI_OUTPUT_DESC desc{};
  ComPtr<IDXGIOutput> candidate;
  for (UINT o = 0; adapter->EnumOutputs(o, candidate.ReleaseAndGetAddressOf()) != DXGI_ERROR_NOT_FOUND; ++o) {
    if (candidate && attachedToDesktop(candidate.Get(), desc)) {
      found = candidate;
      break;
    }
  }
  if (!found) {
    error = "no output attached to the desktop on this adapter";
    return false;
  }
  const RECT& r = desc.DesktopCoordinates;
  left = r.left;
  top = r.top;
  width = r.right - r.left;
  height = r.bottom - r.top;
  hr = found.As(&output);
  if (FAILED(hr)) {
    error = failedCall("IDXGIOutput::QueryInterface(IDXGIOutput1)", hr);
    return false;
  }
  duplication.Reset();
  hr = output->DuplicateOutput(device.Get(), &duplication);
  if (FAILED(hr)) {
    error = failedCall("IDXGIOutput1::DuplicateOutput", hr);
    return false;
  }
  return true;
}

bool ScreenCapturer::openDuplicationForMonitor(std::string& error) {
  ComPtr<IDXGIDevice> dxgiDevice;
  if (FAILED(device.As(&dxgiDevice))) {
    error = "no IDXGIDevice";
    return false;
  }
  ComPtr<IDXGIAdapter> adapter;
  if (FAILED(dxgiDevice->GetAdapter(&adapter))) {
    error = "no adapter";
    return false;
  }
  ComPtr<IDXGIOutput> found;
  DXGI_OUTPUT_DESC desc{};
  ComPtr<IDXGIOutput> candidate;
  for (UINT o = 0; adapter->EnumOutputs(o, candidate.ReleaseAndGetAddressOf()) != DXGI_ERROR_NOT_FOUND; ++o) {
    if (candidate && attachedToDesktop(candidate.Get(), desc) && desc.DesktopCoordinates.left == left &&
        desc.DesktopCoordinates.top == top) {
      found = candidate;
      break;
    }
  }
  if (!found) {
    error = "the selected monitor is not on the capture adapter";
    return false;
  }
  if (isRotated(desc.Rotation)) {
    error = "rotated output (GDI returns it upright)";
    return false;
  }
  width = desc.DesktopCoordinates.right - desc.DesktopCoordinates.left;
  height = desc.DesktopCoordinates.bottom - desc.DesktopCoordinates.top;
  if (FAILED(found.As(&output))) {
    error = "IDXGIOutput1 QI failed";
    return false;
  }
  duplication.Reset();
  HRESULT hr = output->DuplicateOutput(device.Get(), &duplication);
  if (FAILED(hr)) {
    error = failedCall("DuplicateOutput(monitor)", hr);
    return false;
  }
  return true;
}

bool ScreenCapturer::openDuplicationForMonitor() {
  std::string ignored;
  return openDuplicationForMonitor(ignored);
}

bool ScreenCapturer::isMostlyBlack(ID3D11Texture2D* texture) {
  bool black = false;
  readTextureOnce(device.Get(), context.Get(), texture,
                  [&](const uint8_t* rows, uint32_t pitch, uint32_t width, uint32_t height) {
                    black = capture::isMostlyBlack(rows, pitch, width, height);
                  });
  return black;
}

void ScreenCapturer::computeEncodeSize() {
  if (encodeSizeFixed && encodeWidth > 0 && encodeHeight > 0) return;
  EncodeSize size = capture::computeEncodeSize(width, height, maxDimension);
  encodeWidth = size.width;
  encodeHeight = size.height;
}

bool ScreenCapturer::init(uint32_t maxDimensionIn, std::string& error) {
  maxDimension = maxDimensionIn;
  auto& monitors = acquisition.monitors;
  monitors.clear();
  EnumDisplayMonitors(nullptr, nullptr, addMonitor, reinterpret_cast<LPARAM>(&monitors));
  sortMonitors(monitors);
  if (!createDevice(error)) return false;
  std::string ignored;
  if (openPrimaryDuplication(ignored)) {
    DXGI_OUTPUT_DESC desc{};
    if (SUCCEEDED(output->GetDesc(&desc)) && isRotated(desc.Rotation)) duplication.Reset();
  }
  bool useDuplication = duplication != nullptr;
  if (useDuplication) {
    computeEncodeSize();
    useDuplication = acquisition.keepDuplicationAfterProbe(1200, 100);
  }
  if (!useDuplication) {
    acquisition.gdiMode = true;
    if (width <= 0 || height <= 0) {
      left = top = 0;
      width = GetSystemMetrics(SM_CXSCREEN);
      height = GetSystemMetrics(SM_CYSCREEN);
    }
    if (width <= 0 || height <= 0) {
      error = "no capturable display (Desktop Duplication black and no screen metrics)";
      return false;
    }
    computeEncodeSize();
  }
  acquisition.currentMonitor = monitorAtOrigin(monitors, left, top);
  encodeSizeFixed = true;
  return true;
}

void ScreenCapturer::acquireFrame(CapturedFrame& out, int timeoutMs) { acquisition.acquireFrame(out, timeoutMs); }

DuplicatedFrame ScreenCapturer::acquireNextFrame(int timeoutMs) {
  DXGI_OUTDUPL_FRAME_INFO info{};
  ComPtr<IDXGIResource> resource;
  HRESULT hr = duplication->AcquireNextFrame(static_cast<UINT>(timeoutMs), &info, &resource);
  if (hr == DXGI_ERROR_WAIT_TIMEOUT) return DuplicatedFrame::TimedOut;
  if (hr == DXGI_ERROR_ACCESS_LOST) return DuplicatedFrame::AccessLost;
  if (FAILED(hr)) return DuplicatedFrame::Failed;
  heldResource = resource;
  heldPresentTime = info.LastPresentTime.QuadPart;
  return heldPresentTime == 0 ? DuplicatedFrame::PointerOnly : DuplicatedFrame::Image;
}

void ScreenCapturer::releaseHeldFrame() {
  heldTexture.Reset();
  heldResource.Reset();
  if (duplication) duplication->ReleaseFrame();
}

bool ScreenCapturer::takeHeldImage() { return heldResource && SUCCEEDED(heldResource.As(&heldTexture)); }

void ScreenCapturer::deliverHeldImage(CapturedFrame& out) {
  out = CapturedFrame{};
  out.texture = heldTexture;
  out.timestamp = heldPresentTime;
  out.valid = true;
  heldTexture.Reset();
  heldResource.Reset();
}

void ScreenCapturer::setCaptureRectangle(const MonitorInfo& monitor) {
  left = monitor.left;
  top = monitor.top;
  width = monitor.width;
  height = monitor.height;
  previousFrame.clear();
}

void ScreenCapturer::releaseGdiObjects() {
  if (memoryDc) {
    if (previousObject) SelectObject(memoryDc, previousObject);
    DeleteDC(memoryDc);
  }
  if (dib) DeleteObject(dib);
  memoryDc = nullptr;
  dib = nullptr;
  previousObject = nullptr;
  dibBits = nullptr;
  dibWidth = dibHeight = 0;
  previousFrame.clear();
}

bool ScreenCapturer::captureGdi(CapturedFrame& out, bool skipUnchanged) {
  const int32_t targetWidth = encodeWidth > 0 ? encodeWidth : width;
  const int32_t targetHeight = encodeHeight > 0 ? encodeHeight : height;
  if (width <= 0 || height <= 0 || targetWidth <= 0 || targetHeight <= 0) return false;
  if (uploadGdiFrames && (!device || !context)) return false;
  HDC screen = GetDC(nullptr);
  if (!screen) return false;
  if (!memoryDc || !dib || dibWidth != targetWidth || dibHeight != targetHeight) {
    releaseGdiObjects();
    memoryDc = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = targetWidth;
    info.bmiHeader.biHeight = -targetHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &dibBits, nullptr, 0);
    if (!memoryDc || !dib || !dibBits) {
      releaseGdiObjects();
      ReleaseDC(nullptr, screen);
      return false;
    }
    previousObject = SelectObject(memoryDc, dib);
    SetStretchBltMode(memoryDc, HALFTONE);
    SetBrushOrgEx(memoryDc, 0, 0, nullptr);
    dibWidth = targetWidth;
    dibHeight = targetHeight;
  }
  BOOL copied;
  if (targetWidth == width && targetHeight == height) {
    copied = BitBlt(memoryDc, 0, 0, targetWidth, targetHeight, screen, left, top, kCaptureBlt);
  } else {
    copied = StretchBlt(memoryDc, 0, 0, targetWidth, targetHeight, screen, left, top, width, height, kCaptureBlt);
  }
  ReleaseDC(nullptr, screen);
  if (!copied) return false;
  GdiFlush();
  const size_t rowPitch = static_cast<size_t>(targetWidth) * 4;
  const size_t imageBytes = rowPitch * static_cast<size_t>(targetHeight);
  const auto* bits = static_cast<const uint8_t*>(dibBits);
  if (skipUnchanged) {
    if (previousFrame.size() == imageBytes && std::memcmp(previousFrame.data(), bits, imageBytes) == 0) return false;
    previousFrame.assign(bits, bits + imageBytes);
  }
  out = CapturedFrame{};
  if (uploadGdiFrames) {
    if (!uploadTexture) {
      D3D11_TEXTURE2D_DESC desc{};
      desc.Width = static_cast<UINT>(targetWidth);
      desc.Height = static_cast<UINT>(targetHeight);
      desc.MipLevels = 1;
      desc.ArraySize = 1;
      desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
      desc.SampleDesc.Count = 1;
      desc.Usage = D3D11_USAGE_DEFAULT;
      desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
      if (FAILED(device->CreateTexture2D(&desc, nullptr, &uploadTexture))) return false;
    }
    context->UpdateSubresource(uploadTexture.Get(), 0, nullptr, bits, static_cast<UINT>(rowPitch), 0);
    out.texture = uploadTexture;
  }
  out.pixels = bits;
  out.pitch = static_cast<uint32_t>(rowPitch);
  out.width = static_cast<uint32_t>(targetWidth);
  out.height = static_cast<uint32_t>(targetHeight);
  out.valid = true;
  out.timestamp = performanceCounter();
  return true;
}

} // namespace dravnok::capture
