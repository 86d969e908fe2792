#pragma once

#include <cstdint>

#include "platform/file.h"

namespace quarn {

// The file offset at which a DOS EXE starts running, as the executable cleaners measure it:
// IP + 16 × header paragraphs + 16 × CS from the first 24 bytes of the header, computed in
// 32 bits without the 1 MB wrap of real mode. Jumps at the entry are not followed: the
// cleaning records count their distances from the entry itself.
//
// When the header read delivers nothing, `*entry_offset` keeps the value it had, so the
// caller's previous entry stays in force. A short header reads its missing fields as 0.
// Reads only the header; never allocates.
void LocateDosEntry(File& file, uint32_t* entry_offset);

}  // namespace quarn
