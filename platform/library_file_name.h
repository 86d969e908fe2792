#pragma once

#include <optional>
#include <string>

#include "platform/file.h"

namespace quarn {

// A name under which this process opens `file` again, read only ("/proc/self/fd/N"): for a
// format library that opens files by name alone, so that it reads the file the scan opened
// and never one a path names afresh. Nothing for a file with no descriptor of its own (one
// inside a container, one in memory).
std::optional<std::string> LibraryFileName(const File& file);

}  // namespace quarn
