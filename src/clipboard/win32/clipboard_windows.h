#pragma once
#include "clipboard/clipboard_state.h"

#include <windows.h>

namespace dravnok::clipboard {

// The only place that writes the clipboard: empties it, then places
// `handle` as `format` and records the resulting sequence number. Takes the
// handle: the clipboard keeps it on success, it is freed on every failure.
bool placeOnClipboard(ClipboardState& state, UINT format, HGLOBAL handle);

} // namespace dravnok::clipboard
