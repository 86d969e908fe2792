#pragma once

#include <cstdint>
#include <memory>

#include "platform/file_bytes.h"

namespace quarn {

// All of the regular file open as `descriptor` mapped read-only and shared, unmapped when the
// object goes; the mapping does not need the descriptor to stay open. Nothing when the file
// cannot be mapped (not a regular file, no address space, a file system that does not map);
// an empty file gives empty bytes, as there is nothing to map.
std::unique_ptr<FileBytes> MapPosixFile(int descriptor);

}  // namespace quarn
