#include "clipboard/clipboard_state.h"

#include <chrono>
#include <thread>

namespace dravnok::clipboard {

ClipboardState::ClipboardState(bool viewOnly) : viewOnly(viewOnly) {}

uint32_t ClipboardState::settledOwnSequence() const {
  // A write takes at most a few clipboard opening attempts; do not wait for
  // one that hangs.
  for (int i = 0; i < 250 && writesInProgress.load() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return ownClipboardSequence.load();
}

void ClipboardState::resetPendingImage() {
  pendingImage.clear();
  pendingTotal = 0;
  pendingCount = 0;
}

} // namespace dravnok::clipboard
