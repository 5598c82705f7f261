#include "diagnostics/modes.h"

#include <cstdio>

namespace dravnok::diagnostics {

int notAvailableYet(const char* option) {
  std::fprintf(stderr, "%s: not available yet\n", option);
  return 2;
}

} // namespace dravnok::diagnostics
