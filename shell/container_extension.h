#pragma once

#include <string_view>

namespace quarn {

// Whether FileFilter 0 lets a file of this name be looked at as a container: its extension
// (after the last dot) is one that disk images and archives use (IMG, ZIP, TGZ, ISO…) or
// ends in "_" as COMPRESS.EXE's files do, in any case.
bool HasContainerExtension(std::string_view name);

}  // namespace quarn
