#pragma once

#include <cstdint>

#include "engine/database_image.h"
#include "engine/detector_state.h"
#include "platform/file.h"

namespace quarn {

// Recognises Word macro viruses: follows the "WordDocument" stream of a compound file to its
// command table and compares the first 512 stored bytes of every macro with the records of
// the section at `directory_offset` (section 27). Exact match: `*variant_flag` = 0 and the
// VirusId; otherwise a first-pattern match remembered: `*variant_flag` = 1 and its VirusId;
// otherwise 0 with the flag untouched. `state` is not used or changed. Reads a bounded number
// of small pieces of the file and never reads it whole.
uint32_t DetectWordMacroVirus(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                              uint16_t directory_offset, DetectorState& state);

}  // namespace quarn
