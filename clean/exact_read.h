#pragma once

#include <cstdint>

#include "platform/file.h"

namespace quarn {

// Reads up to `length` bytes at `offset`, going on after a short read until the length is
// reached or a read delivers nothing, so a file that hands its bytes out piecemeal reads the
// same as one that does not. Returns the number of bytes read; an offset past the end (or
// beyond what a position can hold) reads nothing.
uint32_t ReadFullyAt(File& file, uint64_t offset, void* buffer, uint32_t length);

// True when all of `length` bytes at `offset` could be read.
inline bool ReadExactlyAt(File& file, uint64_t offset, void* buffer, uint32_t length) {
  return ReadFullyAt(file, offset, buffer, length) == length;
}

}  // namespace quarn
