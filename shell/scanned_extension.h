#pragma once

#include <string_view>

namespace quarn {

// Whether FileFilter 0 scans a file of this name: the text after the first dot among the
// name's first 255 characters is exactly EXE, COM or SYS, or begins with OV or DO, each all
// in capitals or all in small letters.
bool HasScannedExtension(std::string_view name);

}  // namespace quarn
