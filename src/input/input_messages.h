#pragma once
// The viewer's JSON messages on the "input" channel and the dispatcher that
// turns one into injector calls. Shared by remote-helper and the relay.
#include "input/input_injector.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace dravnok {

// The longest message taken from the viewer (and from the relay pipe, which
// carries the viewer's messages unchanged).
inline constexpr size_t kMaxInputMessageBytes = 1048576;

// Performs one message on `injector`. `reply` sends a text back to the viewer
// and may be empty (the relay has no way back). Malformed and unknown
// messages, and messages with a member of the wrong JSON type, are dropped
// whole; nothing is thrown.
void dispatchInputMessage(InputInjector& injector, std::string_view text, const ReplyFn& reply);

// The string member "type" of a JSON object text; empty for anything else.
std::string messageType(std::string_view text);

// The pointer and keyboard events: the only messages the elevated relay gets.
bool isInputEventType(std::string_view type);

// {"code":...,"text":...,"type":"notice"}, compact, non-ASCII kept as UTF-8.
std::string buildNotice(const std::string& code, const std::string& text);

} // namespace dravnok
