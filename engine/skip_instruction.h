#pragma once

#include <cstdint>
#include <span>

namespace quarn {

// How many bytes the stepper moves over the 16-bit instruction whose first bytes are
// b0 b1 b2: its length, or the distance to the target of a forward short jump (EB, 75) or a
// forward near call (E8). The opcode sets are the scanner's own and differ from the
// processor's lengths on purpose (C6 is 5 bytes, F6/F7 carry no immediate, and so on).
uint32_t InstructionStride(uint8_t b0, uint8_t b1, uint8_t b2);

// Moves `*position` over one instruction of `code`. Bytes past the end of `code` read as
// zero, so nothing outside the buffer is read; the new position may lie past the end, and
// callers check it against their buffer. Result always 0.
int SkipInstruction(std::span<const uint8_t> code, uint32_t* position);

}  // namespace quarn
