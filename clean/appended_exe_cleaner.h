#pragma once

#include <cstdint>

#include "clean/clean_record.h"
#include "clean/cleaning_context.h"
#include "platform/file.h"

namespace quarn {

// Removes a virus appended to a DOS EXE whose host's CS, IP, SS and SP it keeps in plain form
// (an ExeCleanRecord of 14 bytes: VirusId, the four word offsets from the virus start with
// 0xFFFF for "leave", the virus length and the entry distance). The virus start is
// `context.entry_offset` − the entry distance, the entry being the one LocateDosEntry gives.
//
// Restores the words, sets the header's length fields for size − virus length and cuts the
// file there, leaving it exactly that long. Returns 1 when the host is rebuilt; 0 without
// writing anything when the record does not fit the file (see LocateAppendedBody); 0 after
// the write-failure message when a write fails, and 0 when the file cannot be cut: the copy
// is then discarded. Never allocates.
uint32_t CleanAppendedExe(const CleaningContext& context, const CleanRecord& record, File& copy);

}  // namespace quarn
