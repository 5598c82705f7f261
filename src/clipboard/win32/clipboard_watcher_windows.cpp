// Clipboard changes on Windows arrive as WM_CLIPBOARDUPDATE at a
// message-only window that the watcher thread owns.
#include "clipboard/clipboard_watcher.h"

#include <windows.h>

namespace dravnok::clipboard {
namespace {

constexpr wchar_t kWindowClass[] = L"DravnokRemoteClipWatch";

LRESULT CALLBACK clipWatchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLIPBOARDUPDATE) {
    if (auto* watcher = reinterpret_cast<ClipboardWatcher*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
      watcher->onClipboardChanged(GetClipboardSequenceNumber());
      return 0;
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

struct WatcherPlatform {
  std::atomic<DWORD> clipWatchThreadId{0};
  std::atomic<HWND> clipWatchWindow{nullptr};
};

void WatcherPlatformDeleter::operator()(WatcherPlatform* platform) const { delete platform; }

std::unique_ptr<WatcherPlatform, WatcherPlatformDeleter> makeWatcherPlatform() {
  return std::unique_ptr<WatcherPlatform, WatcherPlatformDeleter>(new WatcherPlatform);
}

void wakeWatcherThread(WatcherPlatform& platform) {
  if (DWORD id = platform.clipWatchThreadId.load()) PostThreadMessageW(id, WM_QUIT, 0, 0);
}

void runWatcherThread(ClipboardWatcher& watcher, WatcherPlatform& platform, const std::atomic<bool>& running) {
  platform.clipWatchThreadId.store(GetCurrentThreadId());
  MSG message;
  PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE); // the thread's queue, for WM_QUIT
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = clipWatchWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  RegisterClassW(&windowClass); // fails harmlessly when an earlier watcher registered it
  HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  if (!window) {
    watcher.logLine("warn", "clipboard watcher: window create failed");
    watcher.gaveUp();
    platform.clipWatchThreadId.store(0);
    return;
  }
  platform.clipWatchWindow.store(window);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&watcher));
  // What is on the clipboard now is not pushed; the next change is.
  watcher.setLastSeen(GetClipboardSequenceNumber());
  if (AddClipboardFormatListener(window)) {
    watcher.logLine("info", "clipboard watcher started");
  } else {
    watcher.logLine("warn", "clipboard watcher: AddClipboardFormatListener failed");
  }
  while (running.load()) {
    if (GetMessageW(&message, nullptr, 0, 0) <= 0) break;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  RemoveClipboardFormatListener(window);
  DestroyWindow(window);
  platform.clipWatchWindow.store(nullptr);
  platform.clipWatchThreadId.store(0);
  watcher.logLine("info", "clipboard watcher stopped");
}

} // namespace dravnok::clipboard
