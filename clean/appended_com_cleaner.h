#pragma once

#include <cstdint>

#include "clean/clean_record.h"
#include "clean/cleaning_context.h"
#include "platform/file.h"

namespace quarn {

// Removes a virus appended to a COM program that keeps the host's first bytes in plain form
// inside its body, as its ComCleanRecord (12 bytes) describes: finds the virus start, reads
// the n saved bytes at the saved offset from there and makes the COM cut (com_cut.h).
//
// Returns 1 when the host is back in `copy`. Returns 0 without writing when the record or the
// file cannot describe such an infection: n outside 3–4096, a virus start before the file,
// saved bytes not all inside the file, a virus longer than the file. A failed write gives the
// write-failure message and 0. Never allocates.
uint32_t CleanAppendedCom(const CleaningContext& context, const CleanRecord& record, File& copy);

}  // namespace quarn
