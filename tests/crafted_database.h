#pragma once

#include <cstdint>
#include <vector>

#include "engine/database_image.h"
#include "tests/detection_corpus.h"

namespace quarn::corpus {

// A signature image with `records_per_section` records in every section a record detector
// walks, drawn from `seed`, made to hit `files`: each record takes the bytes its first test
// compares from one of the files, at the place that file's detector compares them (entry
// code, file start, tail, the areas of the pattern records), and its confirmation bytes
// from the file too or at random. Some records carry a code offset into the confirmation
// scratch or past the entry code, lengths out of range, or the pattern ids that read the
// file again (90, 220); some pattern records are made from earlier ones (cut short, a byte
// longer, another window or area), so patterns share prefixes and repeat. `extra` records
// (the shipped database's, say) are mixed in. With `confirm_every_pattern`, every pattern
// record carries id 220, whose confirmation reads the file's start and mostly fails: every
// record a file matches then shows as a read, and a match found or lost where the walk's
// order would have hidden it behind an earlier one changes the reads.
DatabaseImage BuildCraftedDatabase(const std::vector<CorpusFile>& files,
                                   uint16_t records_per_section, uint32_t seed,
                                   const DatabaseImage& extra, bool confirm_every_pattern = false);

}  // namespace quarn::corpus
