#pragma once

#include <cstdint>

#include "engine/detector_state.h"
#include "platform/file.h"

namespace quarn {

// Finds the code a DOS EXE starts with. Reads the 24-byte DOS header into
// `state.header_buffer` (and stores the header size in bytes at bytes 24–25), reads 16 bytes
// of entry code into `state.entry_code_buffer` and sets `state.entry_position`. An entry past
// the end of the file falls back to the end of the header. A first EB or E9 jump is followed
// with the code read 16 bytes beyond the move, and a 9A far call with its offset taken
// relative to IP. When the file reads nothing at all, nothing is changed. Positions are
// computed in 64 bits: one that comes out negative reads nothing, and no read leaves the
// state's buffers.
void LocateEntryCode(File& file, DetectorState& state);

// Finds the entry of a PE image behind an MZ header. Reads 512 bytes of header, the PE
// header at e_lfanew and, for a PE image, its first section header (all into
// `state.header_buffer`), then 16 bytes of entry code into `state.entry_code_buffer`, and
// sets `state.entry_position`: the entry's file offset through the first section, or
// AddressOfEntryPoint itself when it lies below BaseOfCode. A file that is not a PE image
// gets e_lfanew as its entry and a section header offset of 0.
// Returns 0 for a PE image, 1 for a file that is not one; also 0 when the file reads nothing,
// in which case no output (`state`, `*pe_offset`, `*section_header_offset`) changes.
int LocatePeEntry(File& file, DetectorState& state, uint32_t* pe_offset,
                  uint64_t* section_header_offset);

}  // namespace quarn
