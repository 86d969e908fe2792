#pragma once

#include <string>
#include <vector>

#include "dbtool/database_codec.h"
#include "dbtool/signature_source.h"
#include "engine/database_image.h"
#include "platform/folder.h"
#include "platform/status.h"

namespace quarn {

struct DatabasePair {
  DatabaseImage signatures;
  DatabaseImage names;
};

// Reads QUARN.DAT and NAMEVIR.DAT from `folder_path` as the scanner does (header skipped,
// image descrambled). A missing or unreadable file, or one of 512 bytes or less, is an error
// naming it.
Result<DatabasePair> ReadDatabasePair(FileSystem& files, const std::string& folder_path);

// Writes both files into `folder_path` (created when missing), each replaced atomically.
Status WriteDatabasePair(FileSystem& files, const std::string& folder_path,
                         const DatabaseFiles& database);

// The source texts named on a command line: a file is read as it is, a folder gives its
// *.qsig files in name order.
Result<std::vector<SourceText>> ReadSourceTexts(FileSystem& files,
                                                const std::vector<std::string>& paths);

}  // namespace quarn
