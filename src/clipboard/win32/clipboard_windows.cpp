#include "clipboard/clipboard.h"
#include "clipboard/clipboard_watcher.h"

namespace dravnok::clipboard {

class SelectionOwner {};
void SelectionOwnerDeleter::operator()(SelectionOwner* owner) const { delete owner; }

std::string readClipboardText() { return {}; }
std::string readClipboardImagePng() { return {}; }
std::string encodePng(int32_t, int32_t, std::span<const uint8_t>) { return {}; }
ClipboardImageHeader peekClipboardImage() { return {}; }
void writeClipboardText(ClipboardState&, std::string_view) {}
bool writeClipboardPng(ClipboardState&, std::string_view) { return false; }

struct WatcherPlatform {};
void WatcherPlatformDeleter::operator()(WatcherPlatform* platform) const { delete platform; }
std::unique_ptr<WatcherPlatform, WatcherPlatformDeleter> makeWatcherPlatform() {
  return std::unique_ptr<WatcherPlatform, WatcherPlatformDeleter>(new WatcherPlatform);
}
void runWatcherThread(ClipboardWatcher& watcher, WatcherPlatform&, const std::atomic<bool>&) {
  watcher.logLine("warn", "clipboard watcher: window create failed");
  watcher.gaveUp();
}
void wakeWatcherThread(WatcherPlatform&) {}

} // namespace dravnok::clipboard
