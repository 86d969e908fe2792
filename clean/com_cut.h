#pragma once

#include <cstdint>
#include <span>

#include "clean/cleaning_context.h"
#include "platform/file.h"

namespace quarn {

// Gives a COM host back: writes `first_bytes` (the host's own first bytes, recovered from
// the virus) at offset 0, writes the zero WipeBlock at the new length, the file's size less
// `virus_length`, and ends the file there, so the virus body is gone and the file is exactly
// the new length long.
//
// Returns 1 when all of that was done. Returns 0 without writing anything when the size
// cannot be had, `virus_length` exceeds it or `first_bytes` would reach past it; 0 after the
// write-failure message when either write fails; 0 when the end cannot be set, since the
// caller then throws the copy away and nothing is lost. Never allocates.
uint32_t CutComVirus(const CleaningContext& context, File& file,
                     std::span<const uint8_t> first_bytes, uint16_t virus_length);

}  // namespace quarn
