#pragma once

#include <cstdint>
#include <span>

#include "platform/file.h"

namespace quarn {

// Fills `into` with the bytes of `file` from `offset`, read by as many reads as it takes;
// false when the file ends or fails first. Moves the file's position.
bool ReadExactlyAt(File& file, uint64_t offset, std::span<uint8_t> into);

}  // namespace quarn
