#pragma once

#include <cstdint>

#include "clean/clean_record.h"
#include "clean/cleaning_context.h"
#include "platform/file.h"

namespace quarn {

// Neutralises the macros of a Word document kept in a compound file: the stored text of
// every macro listed in the "WordDocument" stream's command table is overwritten with the
// MacroFiller (each piece, one per sector the text spans, starting at the filler's first
// byte) and the u16 at stream offset 10 is decremented unless it is 0. The document is read
// as the macro detector reads it: 512-byte sectors, the header's 109 allocation-table
// sectors, the first directory sector's four entries.
//
// `record` is the 2-byte macro cleaning record; only its presence matters. Returns 1 when
// every macro was overwritten and the first sector written back; 0 otherwise, with the
// write-failure message shown once when a write fails. A 0 may leave some texts already
// overwritten in `copy`, which the caller then discards. Declines (0) documents outside what
// the reader models: table or text offsets inside the first sector, command-table groups
// running past the 1024 bytes read, chains that end, loop or leave the file. Never writes
// past the end of `copy`, never allocates, never reads outside its own buffers.
uint32_t CleanWordMacros(const CleaningContext& context, const CleanRecord& record, File& copy);

}  // namespace quarn
