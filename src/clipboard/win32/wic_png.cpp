// PNG through the Windows Imaging Component.
#include "clipboard/clipboard.h"
#include "clipboard/png_codec.h"
#include "clipboard/png_header.h"
#include "clipboard/win32/com.h"

#include <windows.h>

#include <initguid.h>
#include <wincodec.h>

#include <cstring>

namespace dravnok::clipboard {
namespace {

ComPtr<IWICImagingFactory> createFactory() {
  ComPtr<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(factory.GetAddressOf())))) {
    return nullptr;
  }
  return factory;
}

} // namespace

std::string encodePng(int32_t width, int32_t height, std::span<const uint8_t> pixels) {
  if (width < 1 || height < 1) return {};
  const uint64_t stride = static_cast<uint64_t>(width) * 4;
  const uint64_t size = stride * static_cast<uint64_t>(height);
  if (size > kMaxPixelBytes || pixels.size() != size) return {};
  ComPtr<IWICImagingFactory> factory = createFactory();
  if (!factory) return {};
  ComPtr<IStream> memory;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &memory))) return {};
  ComPtr<IWICStream> stream;
  if (FAILED(factory->CreateStream(&stream)) || FAILED(stream->InitializeFromIStream(memory.Get()))) return {};
  ComPtr<IWICBitmapEncoder> encoder;
  if (FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
      FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache))) {
    return {};
  }
  ComPtr<IWICBitmapFrameEncode> frame;
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  if (FAILED(encoder->CreateNewFrame(&frame, nullptr)) || FAILED(frame->Initialize(nullptr)) ||
      FAILED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))) ||
      FAILED(frame->SetPixelFormat(&format)) ||
      FAILED(frame->WritePixels(static_cast<UINT>(height), static_cast<UINT>(stride), static_cast<UINT>(size),
                                const_cast<BYTE*>(pixels.data()))) ||
      FAILED(frame->Commit()) || FAILED(encoder->Commit())) {
    return {};
  }
  STATSTG stat{};
  if (FAILED(memory->Stat(&stat, STATFLAG_NONAME))) return {};
  HGLOBAL global = nullptr;
  if (FAILED(GetHGlobalFromStream(memory.Get(), &global))) return {};
  const void* bytes = GlobalLock(global);
  if (!bytes) return {};
  std::string png(static_cast<const char*>(bytes), static_cast<size_t>(stat.cbSize.QuadPart));
  GlobalUnlock(global);
  return png;
}

std::optional<BgraImage> decodePng(std::string_view png) {
  // Checked before WIC sees it: WIC would take other formats too, and a
  // declared size is only believed when the file could hold it.
  if (png.size() > 0xFFFFFFFFu || !pngSizeAcceptable(png)) return std::nullopt;
  ComPtr<IWICImagingFactory> factory = createFactory();
  if (!factory) return std::nullopt;
  ComPtr<IWICStream> stream;
  if (FAILED(factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(png.data())),
                                          static_cast<DWORD>(png.size())))) {
    return std::nullopt;
  }
  ComPtr<IWICBitmapDecoder> decoder;
  if (FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnLoad, &decoder))) {
    return std::nullopt;
  }
  ComPtr<IWICBitmapFrameDecode> frame;
  if (FAILED(decoder->GetFrame(0, &frame))) return std::nullopt;
  ComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return std::nullopt;
  }
  UINT width = 0, height = 0;
  if (FAILED(converter->GetSize(&width, &height)) || width == 0 || height == 0) return std::nullopt;
  // The sizes come from the file: the buffer must fit the 32-bit sizes
  // that CopyPixels takes.
  const uint64_t stride = static_cast<uint64_t>(width) * 4;
  const uint64_t size = stride * height;
  if (size > kMaxPixelBytes || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return std::nullopt;
  BgraImage image;
  image.width = static_cast<int32_t>(width);
  image.height = static_cast<int32_t>(height);
  image.pixels.resize(size);
  if (FAILED(converter->CopyPixels(nullptr, static_cast<UINT>(stride), static_cast<UINT>(size), image.pixels.data()))) {
    return std::nullopt;
  }
  return image;
}

} // namespace dravnok::clipboard
