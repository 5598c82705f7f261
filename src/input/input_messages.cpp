#include "input/input_messages.h"

#include "common/bounded_json.h"

#include <array>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

namespace dravnok {
namespace {

using nlohmann::json;

// The value is moved out, never copied: copying recurses through the tree.
json parseObject(std::string_view text) {
  std::optional<json> parsed = parseBoundedJson(text, kMaxInputMessageBytes, kMaxJsonDepth);
  if (!parsed || !parsed->is_object()) return json();
  return std::move(*parsed);
}

int32_t saturate(double value) {
  constexpr double lo = std::numeric_limits<int32_t>::min();
  constexpr double hi = std::numeric_limits<int32_t>::max();
  if (!(value >= lo)) return std::numeric_limits<int32_t>::min();
  if (value > hi) return std::numeric_limits<int32_t>::max();
  return int32_t(value); // truncates a decimal toward zero
}

// Typed member reads with defaults. A member present with another JSON type
// marks the whole message as bad, so that none of it is carried out.
class Members {
public:
  explicit Members(const json& object) : object_(object) {}

  double number(const char* name, double fallback = 0.0) {
    const json* member = find(name);
    if (!member) return fallback;
    if (member->is_number_float()) return member->get<double>();
    if (member->is_number_unsigned()) return double(member->get<uint64_t>());
    if (member->is_number_integer()) return double(member->get<int64_t>());
    bad_ = true;
    return fallback;
  }

  int32_t integer(const char* name, int32_t fallback = 0) {
    const json* member = find(name);
    if (!member) return fallback;
    if (member->is_number_float()) return saturate(member->get<double>());
    if (member->is_number_unsigned()) {
      uint64_t value = member->get<uint64_t>();
      return value > uint64_t(std::numeric_limits<int32_t>::max()) ? std::numeric_limits<int32_t>::max()
                                                                   : int32_t(value);
    }
    if (member->is_number_integer()) return saturate(double(member->get<int64_t>()));
    bad_ = true;
    return fallback;
  }

  std::string string(const char* name) {
    const json* member = find(name);
    if (!member) return {};
    if (member->is_string()) return member->get<std::string>();
    bad_ = true;
    return {};
  }

  bool bad() const { return bad_; }

private:
  const json* find(const char* name) const {
    auto it = object_.find(name);
    return it == object_.end() ? nullptr : &*it;
  }

  const json& object_;
  bool bad_ = false;
};

void dispatchObject(InputInjector& injector, const json& message, const ReplyFn& reply) {
  Members m(message);
  const std::string type = m.string("type");
  if (m.bad()) return;

  // Every member is read before anything is done, so a mistyped one leaves
  // the message without effect.
  if (type == "move" || type == "tap") {
    double x = m.number("x"), y = m.number("y");
    if (m.bad()) return;
    if (type == "move") {
      injector.movePointer(x, y);
    } else {
      injector.tap(x, y);
    }
  } else if (type == "down" || type == "up") {
    double x = m.number("x"), y = m.number("y");
    int32_t button = m.integer("button");
    if (m.bad()) return;
    injector.mouseButton(x, y, button, type == "down");
  } else if (type == "scroll") {
    double x = m.number("x"), y = m.number("y"), dx = m.number("dx"), dy = m.number("dy");
    if (m.bad()) return;
    injector.scroll(x, y, dx, dy);
  } else if (type == "swipe") {
    double x = m.number("x"), y = m.number("y"), x2 = m.number("x2"), y2 = m.number("y2");
    int32_t ms = m.integer("ms", 200);
    if (m.bad()) return;
    injector.swipe(x, y, x2, y2, ms);
  } else if (type == "keydown" || type == "keyup") {
    std::string code = m.string("code");
    if (m.bad()) return;
    injector.keyByCode(code, type == "keydown");
  } else if (type == "key") {
    std::string key = m.string("key");
    if (m.bad()) return;
    injector.pressKeyName(key);
  } else if (type == "text") {
    std::string text = m.string("text");
    if (m.bad()) return;
    injector.typeText(text);
  } else if (type == "sas") {
    injector.sendSecureAttention();
  } else if (type == "clipboard") {
    std::string text = m.string("text");
    if (m.bad()) return;
    if (injector.clipboardHooks().writeText) injector.clipboardHooks().writeText(injector, text);
  } else if (type == "clipimg") {
    std::string data = m.string("data");
    int32_t total = m.integer("total"), seq = m.integer("seq");
    if (m.bad()) return;
    if (injector.clipboardHooks().acceptImageChunk)
      injector.clipboardHooks().acceptImageChunk(injector, seq, total, data);
  } else if (type == "clippaste") {
    injector.pasteShortcut();
  } else if (type == "clipget") {
    if (reply && injector.clipboardHooks().sendClipboard) injector.clipboardHooks().sendClipboard(reply);
  }
}

} // namespace

void dispatchInputMessage(InputInjector& injector, std::string_view text, const ReplyFn& reply) {
  json message = parseObject(text);
  if (!message.is_object()) return;
  try {
    dispatchObject(injector, message, reply);
  } catch (...) {
    // The channel's callback must never see an exception: a failure while
    // performing one message loses that message and nothing else.
  }
}

std::string messageType(std::string_view text) {
  json message = parseObject(text);
  if (!message.is_object()) return {};
  auto it = message.find("type");
  if (it == message.end() || !it->is_string()) return {};
  return it->get<std::string>();
}

bool isInputEventType(std::string_view type) {
  static constexpr std::array<std::string_view, 11> eventTypes{"move", "down", "up",  "scroll", "keydown",  "keyup",
                                                               "text", "key",  "tap", "swipe",  "clippaste"};
  for (std::string_view candidate : eventTypes) {
    if (candidate == type) return true;
  }
  return false;
}

std::string buildNotice(const std::string& code, const std::string& text) {
  json notice = {{"type", "notice"}, {"code", code}, {"text", text}};
  // Ill-formed UTF-8 is replaced rather than thrown over.
  return notice.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace dravnok
