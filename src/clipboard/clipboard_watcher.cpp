#include "clipboard/clipboard_watcher.h"

#include "clipboard/clipboard.h"

namespace dravnok::clipboard {

ClipboardWatcher::ClipboardWatcher(ClipboardWatcherLinks links)
    : links_(std::move(links)), platform_(makeWatcherPlatform()) {}

ClipboardWatcher::~ClipboardWatcher() { close(); }

void ClipboardWatcher::setClipWatch(bool on) {
  std::lock_guard lock(clipWatchMutex_);
  if (!on) {
    stopLocked();
    return;
  }
  if (clipWatchRunning_.load() || closed_) return;
  // A thread that ended by itself (it could not set up) is still joinable.
  if (clipWatchThread_.joinable()) clipWatchThread_.join();
  clipWatchRunning_.store(true);
  try {
    clipWatchThread_ = std::thread([this] { runWatcherThread(*this, *platform_, clipWatchRunning_); });
  } catch (...) {
    clipWatchRunning_.store(false);
    throw;
  }
}

void ClipboardWatcher::close() {
  std::lock_guard lock(clipWatchMutex_);
  closed_ = true;
  stopLocked();
  if (clipWatchThread_.joinable()) clipWatchThread_.join();
}

void ClipboardWatcher::stopLocked() {
  if (!clipWatchRunning_.exchange(false)) return;
  wakeWatcherThread(*platform_);
  clipWatchThread_.join();
}

void ClipboardWatcher::logLine(const std::string& level, const std::string& message) const {
  if (links_.log) links_.log(level, message);
}

void ClipboardWatcher::onClipboardChanged(uint32_t sequence) {
  if (links_.ready && !links_.ready()) return;
  const uint32_t own = links_.ownSequence ? links_.ownSequence() : 0;
  if (sequence == own || sequence == lastSeenClipboardSequence_.load()) return;
  lastSeenClipboardSequence_.store(sequence);
  std::string text = readClipboardText();
  std::string png = readClipboardImagePng();
  if (text.empty() && png.empty()) return;
  pushClipboard(text, png, links_.send);
  logLine("info", "clipboard change pushed to viewer (" + std::to_string(text.size()) + "b text, " +
                      std::to_string(png.size()) + "b png)");
}

} // namespace dravnok::clipboard
