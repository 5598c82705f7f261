#pragma once
// The relay's command line: --pipe NAME --helper PID --agent PID.
#include <cstdint>
#include <string>
#include <vector>

namespace dravnok::relay_program {

struct RelayArguments {
  std::u16string pipe;
  uint32_t helperPid = 0;
  uint32_t agentPid = 0;
};

// `args` as split by the system, the program's own name first. Each option
// takes the next argument; an option with nothing after it is ignored, other
// arguments are skipped and a repeated option keeps its last value.
RelayArguments parseRelayArguments(const std::vector<std::u16string>& args);

// A decimal number as the C runtime reads it: leading blanks, a sign, digits
// up to the first other character; 0 when there are none.
int32_t leadingInteger(const std::u16string& text);

// The pipe name has the host's prefix and the host id is not 0.
bool argumentsUsable(const RelayArguments& args);

} // namespace dravnok::relay_program
