#pragma once
// The clipboard write state that one input injector carries: whether writes
// are allowed, the image being received in chunks, and the sequence number of
// our own latest write (so the watcher does not echo it to the viewer).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace dravnok::clipboard {

// What the platform keeps for the content we placed (on X11 the selection
// owner that serves it to other clients; nothing on Windows).
class SelectionOwner;
struct SelectionOwnerDeleter {
  void operator()(SelectionOwner* owner) const;
};

class ClipboardState {
public:
  explicit ClipboardState(bool viewOnly);
  ClipboardState(const ClipboardState&) = delete;
  ClipboardState& operator=(const ClipboardState&) = delete;

  // Fixed at construction: a view-only session never writes the clipboard.
  const bool viewOnly;

  // Base64 text of the image being received, its chunk count and how many
  // chunks arrived so far; pendingTotal is 0 when nothing is being received.
  std::string pendingImage;
  int32_t pendingTotal = 0;
  int32_t pendingCount = 0;

  // The clipboard sequence number right after our latest successful write,
  // 0 before the first. Read by the watcher thread.
  std::atomic<uint32_t> ownClipboardSequence{0};

  // Our writes under way. The change notification of a write can reach the
  // watcher before the write has recorded its sequence number, so the
  // watcher asks through settledOwnSequence, which waits for them.
  std::atomic<int> writesInProgress{0};
  uint32_t settledOwnSequence() const;

  // Created by the first write on platforms that need one.
  std::unique_ptr<SelectionOwner, SelectionOwnerDeleter> selectionOwner;

  void resetPendingImage();
};

} // namespace dravnok::clipboard
