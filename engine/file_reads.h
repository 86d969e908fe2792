#pragma once

#include <cstdint>

#include "platform/file.h"

namespace quarn {

// Reads up to `length` bytes at file offset `offset`. Positions are 64-bit, so an offset
// computed from hostile fields simply lies past the end and delivers nothing; a negative
// offset delivers nothing too. Returns the number of bytes read (0 = nothing read).
uint32_t ReadAt(File& file, int64_t offset, void* buffer, uint32_t length);

}  // namespace quarn
