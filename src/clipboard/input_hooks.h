#pragma once
// Connects the input channel's clipboard messages to a clipboard write
// state that lives beside the injector.
#include "clipboard/clipboard_state.h"
#include "input/input_injector.h"

namespace dravnok::clipboard {

// "clipboard" and "clipimg" write through `state` (which must outlive the
// hooks and share the injector's view-only flag); "clipget" reads the
// clipboard and sends it back.
ClipboardHooks makeClipboardHooks(ClipboardState& state);

} // namespace dravnok::clipboard
