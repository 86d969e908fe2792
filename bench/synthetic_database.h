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

// The sections a detector tests by comparing bytes it has already read, at a position the
// record names (entry, offset, file-end and macro records), against the others: the call
// sections, whose records each read the file first, and the pattern sections, whose records
// are searched for. The signature index keys the first kind only. kEvery stands for all of
// them.
enum class SectionGroup { kKeyed, kCall, kPattern, kMemory, kEvery };

// The sections of one group. `section` < 0 stands for every section of the group; `except`,
// when not negative, is a section left out of it.
struct ScaledSections {
  SectionGroup group;
  int section = -1;
  int except = -1;
};

// As above, but only the sections `scaled` names get `records_per_section` records; every
// other walked section gets `other_records`.
Result<DatabaseImage> BuildSyntheticSignatures(uint16_t records_per_section, uint32_t seed,
                                               ScaledSections scaled, uint16_t other_records);

// `total_records` records spread as a grown database holds them, in proportion 40 entry records
// (sections 0, 8, 32), 20 offset records (2, 3, 6, 7, 10, 11), 10 file-end records (12), 23
// pattern records (4, 13) and 5 macro records (27), evenly over a group's sections; nothing in
// the call and memory sections. Pattern records here are 8–15 bytes long with windows of
// 32–255 bytes, in either area. The same seed gives the same image; no record is meant to
// match. Fails when a section would need more than 65,535 records.
Result<DatabaseImage> BuildMixedSignatures(uint32_t total_records, uint32_t seed);

}  // namespace quarn::bench
