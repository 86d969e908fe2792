#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "shell/database_set.h"

namespace quarn {

// The databases scans start with. A scan holds the set it started with to its end, so a
// swap never pulls databases from under a scan in flight; the old set goes with its last
// scan.
class DatabaseSlot {
 public:
  explicit DatabaseSlot(std::shared_ptr<const DatabaseSet> databases)
      : databases_(std::move(databases)) {}
  std::shared_ptr<const DatabaseSet> Current() const {
    std::lock_guard lock(mutex_);
    return databases_;
  }
  void Replace(std::shared_ptr<const DatabaseSet> databases) {
    std::lock_guard lock(mutex_);
    databases_.swap(databases);
    // The old set is released after the lock, by `databases` going out of scope here.
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const DatabaseSet> databases_;
};

}  // namespace quarn
