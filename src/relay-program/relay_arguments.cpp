#include "relay-program/relay_arguments.h"

#include <limits>

namespace dravnok::relay_program {

namespace {
// The host's pipe prefix, as the relay sees it.
constexpr std::u16string_view kPipePrefix = u"\\\\.\\pipe\\dravnok-input-";
} // namespace

int32_t leadingInteger(const std::u16string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    // Saturate like the runtime rather than wrap into another process id.
    if (value > std::numeric_limits<int32_t>::max()) {
      return negative ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    }
  }
  return static_cast<int32_t>(negative ? -value : value);
}

RelayArguments parseRelayArguments(const std::vector<std::u16string>& args) {
  RelayArguments parsed;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::u16string& arg = args[i];
    const bool option = arg == u"--pipe" || arg == u"--helper" || arg == u"--agent";
    if (!option || i + 1 >= args.size()) continue;
    const std::u16string& value = args[++i];
    if (arg == u"--pipe") {
      parsed.pipe = value;
    } else if (arg == u"--helper") {
      parsed.helperPid = static_cast<uint32_t>(leadingInteger(value));
    } else {
      parsed.agentPid = static_cast<uint32_t>(leadingInteger(value));
    }
  }
  return parsed;
}

bool argumentsUsable(const RelayArguments& args) {
  return args.pipe.size() >= 23 && args.pipe.starts_with(kPipePrefix) && args.helperPid != 0;
}

} // namespace dravnok::relay_program
