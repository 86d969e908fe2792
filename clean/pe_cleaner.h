#pragma once

#include <cstdint>

#include "clean/clean_record.h"
#include "clean/cleaning_context.h"
#include "platform/file.h"

namespace quarn {

// Removes virus code from a PE image whose entry point was redirected to it (a PeCleanRecord
// of 14 bytes, see pe_cleaner.cpp). Uses `context.entry_offset`, `context.pe_header_offset`
// and `context.section_header_offset` as LocatePeEntry finds them for the infected file.
//
// Puts the saved entry point back into AddressOfEntryPoint (3 bytes limited to 20 bits with
// entry width 1, else 4 bytes), corrects the first section's VirtualSize by the saved delta
// when the record asks, and writes zeros over the virus code at the entry: the record's
// count, or 0xFFFF for "up to the 256-byte boundary 257 to 512 bytes on", cut at the end of
// the file. The headers are written back with only the bytes their reads delivered, so the
// file keeps its length.
//
// Returns 1 when done; 0 without writing when the record needs bytes the file does not hold
// (the entry, the saved entry point, the entry point field, the delta, the section size) or
// a zero count above 4096; 0 after the write-failure message when any write fails. Never
// allocates.
uint32_t CleanPeFile(const CleaningContext& context, const CleanRecord& record, File& copy);

}  // namespace quarn
