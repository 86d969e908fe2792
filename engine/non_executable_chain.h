#pragma once

#include <cstdint>

#include "engine/database_image.h"
#include "platform/file.h"

namespace quarn {

// Decides whether a file that does not start "MZ" (a COM program, a driver, an overlay, a
// document) carries a known virus, by running the non-executable chain with a fresh,
// zero-filled DetectorState: the two tail detectors, the COM entry (which fixes the entry
// position for the steps after it), the call, forward and backward detectors on their own
// sections, the file-end detector, the pattern detector, the two decryptor tracers, and last
// the Word macro check. The run-and-keep rule and the flag are those of DetectExecutable.
// Never allocates, never fails: an unreadable, short or hostile file yields 0.
uint32_t DetectNonExecutable(const DatabaseImage& signatures, File& file, uint16_t* variant_flag);

}  // namespace quarn
