#pragma once

#include <string>

namespace quarn {

// The folder holding the running executable, with links resolved; empty when the system
// cannot tell (no /proc).
std::string ExecutableDirectory();

// Where the bundled database files are: "share/quarnexp" beside the executable's "bin"
// folder, as laid out both in the build tree and in an installed prefix. Empty when the
// executable's folder is unknown.
std::string BundledDataDirectory();

}  // namespace quarn
