// The Windows clipboard: CF_UNICODETEXT for text, CF_DIB for images.
#include "clipboard/win32/clipboard_windows.h"

#include "clipboard/clipboard.h"
#include "clipboard/png_codec.h"
#include "clipboard/win32/com.h"
#include "common/win32/wide.h"

#include <cstring>
#include <cwchar>

namespace dravnok::clipboard {
namespace {

// Another program may hold the clipboard open for a moment.
constexpr int kOpenAttempts = 5;
constexpr DWORD kOpenPauseMs = 10;

bool openClipboard() {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (OpenClipboard(nullptr)) return true;
    Sleep(kOpenPauseMs);
  }
  return false;
}

} // namespace

// Windows keeps placed content itself: nothing to own.
class SelectionOwner {};
void SelectionOwnerDeleter::operator()(SelectionOwner* owner) const { delete owner; }

std::string readClipboardText() {
  if (!openClipboard()) return {};
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const auto* text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
  if (!text) {
    CloseClipboard();
    return {};
  }
  // Another program may have placed text without its terminating zero:
  // never look beyond the block.
  const size_t chars = wcsnlen(text, GlobalSize(data) / sizeof(wchar_t));
  std::string out;
  const int length =
      chars ? WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(chars), nullptr, 0, nullptr, nullptr) : 0;
  if (length > 0) {
    out.resize(static_cast<size_t>(length));
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(chars), out.data(), length, nullptr, nullptr);
  }
  GlobalUnlock(data);
  CloseClipboard();
  return out;
}

std::string readClipboardImagePng() {
  ComApartment com;
  if (!openClipboard()) return {};
  HANDLE data = GetClipboardData(CF_DIB);
  const auto* bytes = data ? static_cast<const uint8_t*>(GlobalLock(data)) : nullptr;
  if (!bytes) {
    CloseClipboard();
    return {};
  }
  // The header is checked against the block's real size.
  auto image = dibToBgra({bytes, GlobalSize(data)});
  std::string png = image ? encodePng(image->width, image->height, image->pixels) : std::string();
  GlobalUnlock(data);
  CloseClipboard();
  return png;
}

ClipboardImageHeader peekClipboardImage() {
  ClipboardImageHeader header;
  header.present = IsClipboardFormatAvailable(CF_DIB);
  if (!header.present || !OpenClipboard(nullptr)) return header;
  if (HANDLE data = GetClipboardData(CF_DIB)) {
    if (const auto* bytes = static_cast<const uint8_t*>(GlobalLock(data))) {
      if (GlobalSize(data) >= kDibHeaderSize) {
        std::memcpy(&header.width, bytes + 4, sizeof header.width);
        std::memcpy(&header.height, bytes + 8, sizeof header.height);
      }
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return header;
}

bool placeOnClipboard(ClipboardState& state, UINT format, HGLOBAL handle) {
  if (!handle) return false;
  if (state.viewOnly) {
    GlobalFree(handle);
    return false;
  }
  struct InProgress {
    std::atomic<int>& count;
    explicit InProgress(std::atomic<int>& c) : count(c) { ++count; }
    ~InProgress() { --count; }
  } inProgress(state.writesInProgress);
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (!OpenClipboard(nullptr)) {
      Sleep(kOpenPauseMs);
      continue;
    }
    EmptyClipboard();
    HANDLE placed = SetClipboardData(format, handle);
    CloseClipboard();
    if (!placed) {
      GlobalFree(handle);
      return false;
    }
    state.ownClipboardSequence.exchange(GetClipboardSequenceNumber());
    return true;
  }
  GlobalFree(handle);
  return false;
}

void writeClipboardText(ClipboardState& state, std::string_view text) {
  if (state.viewOnly) return;
  const std::wstring wide = toWide(text);
  const size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (!handle) return;
  auto* target = static_cast<wchar_t*>(GlobalLock(handle));
  if (!target) {
    GlobalFree(handle);
    return;
  }
  std::memcpy(target, wide.c_str(), bytes);
  GlobalUnlock(handle);
  placeOnClipboard(state, CF_UNICODETEXT, handle);
}

bool writeClipboardPng(ClipboardState& state, std::string_view png) {
  if (png.empty() || state.viewOnly) return false;
  ComApartment com;
  auto image = decodePng(png);
  if (!image) return false;
  const size_t size = dibBlockSize(image->width, image->height);
  if (!size) return false;
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!handle) return false;
  auto* block = static_cast<uint8_t*>(GlobalLock(handle));
  if (!block) {
    GlobalFree(handle);
    return false;
  }
  writeDib({block, size}, *image);
  GlobalUnlock(handle);
  return placeOnClipboard(state, CF_DIB, handle);
}

} // namespace dravnok::clipboard
