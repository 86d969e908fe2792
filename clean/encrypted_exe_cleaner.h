#pragma once

#include <cstdint>

#include "clean/clean_record.h"
#include "clean/cleaning_context.h"
#include "platform/file.h"

namespace quarn {

// Removes a virus appended to a DOS EXE that keeps the host's CS, IP, SS and SP enciphered
// (an EncryptedExeCleanRecord of 24 bytes: the 14 bytes of an ExeCleanRecord, the
// DecryptScheme 1–9 at 14 and eight bytes of scheme parameters; see exe_decrypt_schemes.h).
// Scheme 5 keeps the words in plain form and may restore two more header words, with a flag
// that leaves the length fields as those words set them.
//
// Otherwise as CleanAppendedExe: the entry is `context.entry_offset`, the file is left exactly
// size − virus length bytes long. Returns 0 without writing for a scheme outside 1–9, a key
// or word outside the file, or scheme 1's key-load opcode not met within 64 bytes; 0 after
// the write-failure message when a write fails. Never allocates.
uint32_t CleanEncryptedExe(const CleaningContext& context, const CleanRecord& record, File& copy);

}  // namespace quarn
