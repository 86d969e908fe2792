// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

#include "engine/database_image.h"
#include "engine/section_directory.h"

namespace quarn {

struct DatabaseVersion {
  uint16_t version = 0;
  uint16_t month = 0;
  uint16_t year = 0;
};

// Reads the version, month and year from the section at `directory_offset` (the version
// section's, 308, in every caller). Bytes beyond the image read as zero. Result always 0.
int ReadDatabaseVersion(const DatabaseImage& signatures, uint16_t directory_offset,
                        uint16_t* version, uint16_t* month, uint16_t* year);

DatabaseVersion ReadDatabaseVersion(const DatabaseImage& signatures);

// Whether `candidate` is a newer database than `current`: a higher version, or the same
// version of a later date.
bool IsNewerDatabase(const DatabaseVersion& candidate, const DatabaseVersion& current);

// The database's date as the programs print it for people and clients: "Dec 2026"; a month
// outside 1 to 12 shows as "???".
std::string DatabaseDateText(const DatabaseVersion& version);

// What the programs' --version says of the database they load from `folder`:
// "database 1 of Dec 2026 (/usr/share/quarnexp)".
std::string DatabaseVersionText(const DatabaseVersion& version, const std::string& folder);

}  // namespace quarn
