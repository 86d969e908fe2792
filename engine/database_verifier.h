#pragma once

#include <string>
#include <vector>

#include "engine/database_image.h"

namespace quarn {

// Every structural problem of a database pair, one sentence each: record sizes that differ
// from the reader's, sections that run out of the image, a version section beyond it,
// records with VirusId 0 or an id without a name, and fixed ids without a name. Empty when
// the database is sound.
std::vector<std::string> VerifyDatabase(const DatabaseImage& signatures,
                                        const DatabaseImage& names);

// Version, date, the name table's size and the record count of each section, as text.
std::string DescribeDatabase(const DatabaseImage& signatures, const DatabaseImage& names);

}  // namespace quarn
