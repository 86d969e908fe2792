#pragma once

#include <cstdint>

#include "engine/database_image.h"
#include "platform/status.h"

namespace quarn::bench {

// A signature image with `records_per_section` records in every section a detector walks
// (entry, offset, pattern, file-end, macro and memory records alike), drawn from `seed`: the same
// seed gives the same image. Every length field is at its maximum and every offset points
// inside the bytes it is compared with, so each record costs a real comparison while a chance
// match (which would end a walk early) stays vanishingly rare. VirusIds start at 1000, clear
// of the ids that detectors treat specially; no memory record matches zeros. Fails when the image
// cannot be laid out or a walk over it would not see every record.
Result<DatabaseImage> BuildSyntheticSignatures(uint16_t records_per_section, uint32_t seed);

}  // namespace quarn::bench
