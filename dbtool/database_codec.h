#pragma once

#include <string>
#include <vector>

#include "engine/database_builder.h"
#include "engine/database_image.h"
#include "platform/status.h"

namespace quarn {

struct DatabaseFiles {
  std::vector<uint8_t> signatures;  // QUARN.DAT
  std::vector<uint8_t> names;       // NAMEVIR.DAT
};

Result<DatabaseFiles> CompileDatabase(const DatabaseContent& content);

// What the scanner reads from a pair of images, as content: every record of every section
// that a walk can reach, the version and date, and the names. Sections that the scanner
// walks as empty come back empty, and each is listed in `notes`.
DatabaseContent DecompileDatabase(const DatabaseImage& signatures, const DatabaseImage& names,
                                  std::vector<std::string>* notes);

}  // namespace quarn
