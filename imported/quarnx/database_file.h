#pragma once

#include <optional>
#include <span>
#include <string>

#include "imported/quarnx/imported_database.h"
#include "platform/folder.h"
#include "platform/status.h"

namespace quarn {

// QUARNX.DAT in the data folder `folder_path`: nothing when the folder has none (it is
// optional), the database when it is sound, and an error naming the file and the cause when
// it cannot be read or is damaged. The file stays open and is read where a lookup needs it
// (ImportedDatabase), not copied: its pages are the page cache's, shared with every other
// process that reads it.
Result<std::optional<ImportedDatabase>> ReadImportedDatabaseFile(
    FileSystem& files, const std::string& folder_path,
    ImportedDatabase::Checks checks = ImportedDatabase::Checks::kAll);

// Writes QUARNX.DAT's bytes, given as the pieces ImportedDatabaseEncoder::Finish gives, into
// `folder_path` (made when missing), replacing an older one in one step.
Status WriteImportedDatabaseFile(FileSystem& files, const std::string& folder_path,
                                 std::span<const std::span<const uint8_t>> pieces);

// "QUARNX.DAT: 12 imported signatures: 10 patterns, 1 file hash, 1 section hash".
std::string DescribeImportedDatabase(const ImportedDatabase& database);

}  // namespace quarn
