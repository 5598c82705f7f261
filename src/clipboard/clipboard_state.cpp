#include "clipboard/clipboard_state.h"

namespace dravnok::clipboard {

ClipboardState::ClipboardState(bool viewOnly) : viewOnly(viewOnly) {}

void ClipboardState::resetPendingImage() {
  pendingImage.clear();
  pendingTotal = 0;
  pendingCount = 0;
}

} // namespace dravnok::clipboard
