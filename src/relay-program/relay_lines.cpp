#include "relay-program/relay_lines.h"

#include "common/bounded_json.h"
#include "input/input_messages.h"

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>

namespace dravnok::relay_program {

void LineAccumulator::append(std::span<const char> bytes, const LineFn& onLine) {
  // What was pending holds no line feed: only the new bytes are searched,
  // so a long line that arrives in small reads costs no more than one read.
  const size_t fresh = pending_.size();
  pending_.append(bytes.data(), bytes.size());
  size_t start = 0;
  for (size_t end; (end = pending_.find('\n', std::max(start, fresh))) != std::string::npos; start = end + 1) {
    if (skipping_) {
      skipping_ = false;
      continue;
    }
    if (end > start) onLine(std::string_view(pending_).substr(start, end - start));
  }
  pending_.erase(0, start);
  if (pending_.size() > kMaxPendingLine) {
    pending_.clear();
    skipping_ = true;
  }
}

namespace {

// Numbers of any JSON form, brought into range; other types count as missing.
int32_t memberInt(const nlohmann::json& msg, const char* key, int32_t fallback) {
  const auto it = msg.find(key);
  if (it == msg.end() || !it->is_number()) return fallback;
  const double v = std::clamp(it->get<double>(), static_cast<double>(std::numeric_limits<int32_t>::min()),
                              static_cast<double>(std::numeric_limits<int32_t>::max()));
  return static_cast<int32_t>(v);
}

} // namespace

void handleRelayLine(InputInjector& injector, std::string_view line) {
  const auto parsed = parseBoundedJson(line, kMaxPendingLine, kMaxJsonDepth);
  if (!parsed || !parsed->is_object()) return;
  const nlohmann::json& msg = *parsed;
  std::string type;
  if (const auto it = msg.find("type"); it != msg.end() && it->is_string()) type = it->get<std::string>();
  if (type == "_display") {
    injector.setDisplay(std::max(memberInt(msg, "w", 1), 1), std::max(memberInt(msg, "h", 1), 1),
                        memberInt(msg, "l", 0), memberInt(msg, "t", 0));
  } else if (isInputEventType(type)) {
    dispatchInputMessage(injector, line, {});
  }
}

} // namespace dravnok::relay_program
