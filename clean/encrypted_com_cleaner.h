#pragma once

#include <cstdint>

#include "clean/clean_record.h"
#include "clean/cleaning_context.h"
#include "platform/file.h"

namespace quarn {

// Removes a virus appended to a COM program that keeps the host's first bytes enciphered
// inside its body, as its EncryptedComCleanRecord (24 bytes) describes: finds the virus start
// as CleanAppendedCom does, reads the n saved bytes, deciphers them by the record's scheme
// (com_decrypt_schemes.h) and makes the COM cut (com_cut.h) with them.
//
// Returns 1 when the host is back in `copy`. Returns 0 without writing for a scheme outside
// 1–12, a scheme whose key cannot be found, or a record or file that cannot describe such an
// infection (as for CleanAppendedCom, and the scheme's own limits). A failed write gives the
// write-failure message and 0. Never allocates.
uint32_t CleanEncryptedCom(const CleaningContext& context, const CleanRecord& record, File& copy);

}  // namespace quarn
