#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "engine/database_image.h"
#include "engine/database_version.h"
#include "engine/imported_detector.h"
#include "platform/status.h"

namespace quarn {

// Everything a scan needs from the data folder, loaded together and never changed after:
// QUARN.DAT (indexed), NAMEVIR.DAT and, when present, QUARNX.DAT.
struct DaemonDatabases {
  DatabaseImage signatures;
  DatabaseImage names;
  std::unique_ptr<ImportedDetector> imported;  // null: the folder has no QUARNX.DAT
  DatabaseVersion version;
};

// Loads the databases of `folder`. The failure names the file and the cause.
Result<std::shared_ptr<const DaemonDatabases>> LoadDaemonDatabases(const std::string& folder);

// The databases scans start with. A scan holds the set it started with to its end, so a
// swap never pulls databases from under a scan in flight; the old set goes with its last
// scan.
class DatabaseSlot {
 public:
  explicit DatabaseSlot(std::shared_ptr<const DaemonDatabases> databases)
      : databases_(std::move(databases)) {}
  std::shared_ptr<const DaemonDatabases> Current() const {
    std::lock_guard lock(mutex_);
    return databases_;
  }
  void Replace(std::shared_ptr<const DaemonDatabases> databases) {
    std::lock_guard lock(mutex_);
    databases_.swap(databases);
    // The old set is released after the lock, by `databases` going out of scope here.
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const DaemonDatabases> databases_;
};

}  // namespace quarn
