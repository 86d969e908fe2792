#pragma once

#include <string>

namespace quarn {

// The data folder installed with the library: "share/quarnexp" under the prefix the library
// file itself lies in (lib/ or lib/<multiarch>/ of an installed prefix, lib/ of the build
// tree), never found from the calling program's location. Empty when there is none.
std::string InstalledDataFolder(const std::string& library_file);

// The file the library was loaded from, with links resolved; empty when unknown.
std::string LoadedLibraryFile();

}  // namespace quarn
