#pragma once

#include <cstdint>
#include <span>

#include "platform/file.h"

namespace quarn {

// Reads at an absolute offset, with the file's position moved past what was read. Positions
// are 64-bit, so an offset computed from hostile fields simply lies past the end and
// delivers nothing; a negative offset, or one beyond what a position can hold, delivers
// nothing too.

// One Read at `offset`: up to `length` bytes, fewer where the file hands them out piecemeal
// (File::Read). Returns the number of bytes read (0 = nothing read).
uint32_t ReadAt(File& file, int64_t offset, void* buffer, uint32_t length);

// Reads on after a short read until `length` bytes are in or a read delivers nothing, so a
// file that hands its bytes out piecemeal reads the same as one that does not. Returns the
// number of bytes read.
uint32_t ReadFullyAt(File& file, uint64_t offset, void* buffer, uint32_t length);

// True when all of `length` bytes at `offset` could be read.
inline bool ReadExactlyAt(File& file, uint64_t offset, void* buffer, uint32_t length) {
  return ReadFullyAt(file, offset, buffer, length) == length;
}

// Fills `into` from `offset`; false when the file ends or fails first, or `into` is longer
// than one read can ask for.
bool ReadExactlyAt(File& file, uint64_t offset, std::span<uint8_t> into);

}  // namespace quarn
