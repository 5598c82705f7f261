#include "diagnostics/modes.h"

namespace dravnok::diagnostics {

int runBannerTest(const std::string&) { return notAvailableYet("--banner-test"); }

} // namespace dravnok::diagnostics
