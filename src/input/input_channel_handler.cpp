#include "input/input_channel_handler.h"

#include "common/bounded_json.h"
#include "input/input_messages.h"
#include "input/process_info.h"

#include <limits>

namespace dravnok {
namespace {

constexpr std::string_view quotedMonitor = "\"monitor\"";
constexpr std::string_view quotedIndex = "\"index\"";

bool isCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The C library's atoi reading (white space, sign, digits; no digits read as
// 0), saturating instead of overflowing.
int64_t readLeadingInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && isCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  constexpr int64_t limit = int64_t(std::numeric_limits<int32_t>::max()) + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) value = limit;
  }
  return negative ? -value : value;
}

const std::string noticeTail = " is running as administrator, so Windows blocks remote mouse and keyboard while it is "
                               "in front. Someone at the PC has to close it or click away from it.";

} // namespace

std::optional<int32_t> parseMonitorSelection(std::string_view text) {
  if (text.find(quotedMonitor) == std::string_view::npos) return std::nullopt;
  size_t index = text.find(quotedIndex);
  if (index == std::string_view::npos) return std::nullopt;
  size_t colon = text.find(':', index);
  if (colon == std::string_view::npos) return std::nullopt;
  int64_t value = readLeadingInteger(text.substr(colon + 1));
  if (value < 0) return std::nullopt;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return int32_t(value);
}

std::string asciiProcessName(std::u16string_view name) {
  std::string result;
  result.reserve(name.size());
  for (char16_t unit : name) result.push_back(unit < 128 ? char(unit) : '?');
  return result;
}

ElevationProbe systemElevationProbe() { return {foregroundIsElevated, processImageName}; }

InputChannelHandler::InputChannelHandler(InputChannelHooks hooks, ElevationProbe probe)
    : hooks_(std::move(hooks)), probe_(std::move(probe)) {}

void InputChannelHandler::handleText(InputInjector* injector, bool viewOnly, const std::string& text) {
  if (auto monitor = parseMonitorSelection(text)) {
    if (hooks_.switchMonitor) hooks_.switchMonitor(*monitor);
    return;
  }
  if (hooks_.parseClipWatch) {
    int watch = hooks_.parseClipWatch(text);
    if (watch != -1) {
      if (hooks_.setClipWatch) hooks_.setClipWatch(watch == 1);
      return;
    }
  }
  if (!injector) return;

  std::string refusal;
  if (!parseBoundedJson(text, kMaxInputMessageBytes, kMaxJsonDepth, &refusal) && !refusal.empty()) {
    if (hooks_.log) hooks_.log("warn", "input: message dropped (" + refusal + ")");
    return;
  }
  const std::string type = messageType(text);
  if (isInputEventType(type) && !viewOnly) {
    if (hooks_.forwardToRelay && hooks_.forwardToRelay(text)) return;
    // Only the events that start an interaction are worth a look at the
    // window in front; moves would ask on every pixel.
    if (type == "down" || type == "keydown" || type == "text" || type == "tap") warnIfElevated();
  }
  dispatchInputMessage(*injector, text, hooks_.reply);
}

void InputChannelHandler::warnIfElevated() {
  uint32_t pid = 0;
  if (!probe_.foregroundIsElevated || !probe_.foregroundIsElevated(pid)) {
    lastElevatedPid_.store(0);
    return;
  }
  // Once per administrator window that comes to the front.
  if (lastElevatedPid_.exchange(pid) == pid) return;

  std::string name = asciiProcessName(probe_.processImageName ? probe_.processImageName(pid) : std::u16string());
  if (name.empty()) name = "The window in front";
  if (hooks_.log) {
    hooks_.log("warn", "input: " + name + " (pid " + std::to_string(pid) +
                           ") runs as administrator \xE2\x80\x94 Windows drops remote input to it");
  }
  try {
    if (hooks_.sendNotice) hooks_.sendNotice(buildNotice("elevated", name + noticeTail));
  } catch (...) {
    // The viewer misses the notice; the log line above still tells.
  }
}

} // namespace dravnok
