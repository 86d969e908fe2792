#pragma once

#include <cstdint>

#include "engine/database_image.h"
#include "platform/file.h"

namespace quarn {

// Decides whether a file that starts "MZ" carries a known virus, by running the executable
// detector chain over it with a fresh, zero-filled DetectorState: the DOS entry is located,
// then the signature detectors of sections 0–4, the three decryptor tracers, and finally the
// PE entry is located and, for a PE image, section 32 is scanned at it.
//
// A detector runs only while nothing has been found or what was found is partial, and its
// return value replaces the result even when it is 0: an exact match ends the chain, while a
// partial match survives only if no later detector runs over it with a different answer.
//
// Returns the VirusId found, 0 for nothing. `*variant_flag` (when `variant_flag` is not null)
// is set to 1 when the returned VirusId is a partial match (a possible variant), else 0.
// Reads at most a few hundred bytes of `file` per detector and moves its position; never
// allocates, never fails: an unreadable, short or hostile file yields 0.
uint32_t DetectExecutable(const DatabaseImage& signatures, File& file, uint16_t* variant_flag);

}  // namespace quarn
