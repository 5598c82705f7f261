#pragma once
#include <string>

namespace dravnok {

// The project's version and the commit the program was built from, as
// "0.1.0 (commit 0123456789ab)"; a build from a tree with changes that were
// not committed says so.
std::string versionText();

} // namespace dravnok
