#pragma once

#include <cstdint>

#include "engine/database_image.h"
#include "engine/imported_detector.h"
#include "platform/file.h"

namespace quarn {

// The outcome of the detection stage for one file.
struct FileVerdict {
  uint32_t virus = 0;       // VirusId, 0 = no signature matched
  uint16_t variant = 0;     // 1 = the match is partial: a possible variant
  uint32_t suspicious = 0;  // non-zero = the heuristics flagged the file
  bool executable = false;  // the file starts "MZ"
  // No signature matched, but an imported pattern's verification reached its bound.
  bool unverified = false;
  // No signature matched, and the imported signatures could not finish their look
  // (ImportedMatch::unfinished): the file is not known to be clean.
  bool imported_unfinished = false;
};

// Runs the detection stage over one open file: the executable chain for a file whose first
// two bytes are "M" then "Z", the other chain for anything else; when no signature matched,
// the imported signatures (a match gives kImportedVirusIdBase + its index, never a variant;
// a verification that reached its bound without one sets `unverified`);
// and, when still nothing matched and `heuristics_enabled`, the heuristics of the same kind.
// Moves the file's position; never fails: a file that cannot be read is simply clean.
FileVerdict DetectFile(const DatabaseImage& signatures, File& file, bool heuristics_enabled,
                       ImportedScan imported = {});

}  // namespace quarn
