#pragma once
// Pushes desktop clipboard changes to the viewer while the viewer wants
// them. A thread of its own waits for the platform's change notifications;
// the watcher's owner starts and stops it and joins it.
#include "clipboard/clipboard_sync.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace dravnok::clipboard {

// (level, message) with level "info" or "warn".
using ClipboardLog = std::function<void(const std::string&, const std::string&)>;

struct ClipboardWatcherLinks {
  // True while there is an injector and an input channel to push to; empty
  // means always.
  std::function<bool()> ready;
  // The injector's clipboard state's settledOwnSequence(): changes we made
  // are not pushed.
  std::function<uint32_t()> ownSequence;
  // Sends one message to the viewer (or drops it when the channel is gone).
  ClipboardSender send;
  ClipboardLog log;
};

// The platform's side of the watcher thread (its window or connection).
struct WatcherPlatform;
struct WatcherPlatformDeleter {
  void operator()(WatcherPlatform* platform) const;
};

class ClipboardWatcher {
public:
  explicit ClipboardWatcher(ClipboardWatcherLinks links);
  ~ClipboardWatcher();
  ClipboardWatcher(const ClipboardWatcher&) = delete;
  ClipboardWatcher& operator=(const ClipboardWatcher&) = delete;

  // Starts or stops the watcher thread; never from the watcher thread.
  // Switching on while running, or after close(), changes nothing. A thread
  // that cannot be created throws std::system_error.
  void setClipWatch(bool on);
  // Stops the watcher for good (the session's stop).
  void close();
  bool running() const { return clipWatchRunning_.load(); }

  // The platform's thread calls these.
  void logLine(const std::string& level, const std::string& message) const;
  // The thread could not set itself up and ends.
  void gaveUp() { clipWatchRunning_.store(false); }
  void setLastSeen(uint32_t sequence) { lastSeenClipboardSequence_.store(sequence); }
  // A clipboard change with the platform's sequence number: reads the
  // clipboard and pushes it unless the change is ours or already handled.
  void onClipboardChanged(uint32_t sequence);

private:
  void stopLocked();

  ClipboardWatcherLinks links_;
  std::mutex clipWatchMutex_;
  std::atomic<bool> clipWatchRunning_{false};
  std::atomic<uint32_t> lastSeenClipboardSequence_{0};
  bool closed_ = false;
  std::thread clipWatchThread_;
  std::unique_ptr<WatcherPlatform, WatcherPlatformDeleter> platform_;
};

// Implemented per platform.
std::unique_ptr<WatcherPlatform, WatcherPlatformDeleter> makeWatcherPlatform();
// The thread's body: runs until the watcher is no longer wanted.
void runWatcherThread(ClipboardWatcher& watcher, WatcherPlatform& platform, const std::atomic<bool>& running);
// Makes the running thread look at its running flag again.
void wakeWatcherThread(WatcherPlatform& platform);

} // namespace dravnok::clipboard
