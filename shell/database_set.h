#pragma once

#include <memory>
#include <string>

#include "engine/database_image.h"
#include "engine/database_version.h"
#include "engine/imported_detector.h"
#include "platform/status.h"

namespace quarn {

// Everything a scan needs from the data folder, loaded together and never changed after:
// QUARN.DAT (indexed), NAMEVIR.DAT and, when present, QUARNX.DAT. Shared read-only by every
// scan of the daemon and of the library, on any thread.
struct DatabaseSet {
  DatabaseImage signatures;
  DatabaseImage names;
  std::unique_ptr<ImportedDetector> imported;  // null: the folder has no QUARNX.DAT
  DatabaseVersion version;
};

// Loads the databases of `folder`. The failure names the file and the cause.
Result<std::shared_ptr<const DatabaseSet>> LoadDatabaseSet(const std::string& folder);

}  // namespace quarn
