// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "containers/container.h"
#include "containers/entry_spool.h"
#include "shell/detection_pool.h"
#include "shell/file_detection.h"
#include "shell/folder_walk.h"
#include "shell/scan_session.h"

namespace quarn {

// How many bytes of entries read ahead one top-level file holds in memory at once, all its
// archives together (an entry larger than EntrySpool::kSpoolMemoryBytes holds that much, the
// rest of it being in a temporary file), and how many more it may have in temporary files;
// an entry larger than what is left is read when the scan comes to it.
inline constexpr uint64_t kAheadBytes = uint64_t{64} << 20;
inline constexpr uint64_t kSpilledAheadBytes = 4 * kAheadBytes;

// An archive's entries read, and detected, ahead of its scan on the session's DetectionPool:
// the pool's threads read the next few windows of entries, each through a twin of the reader
// (ArchiveReader::Twin), while the scan reports the window before, and the scan's own reader
// passes over their data. Only an entry read whole within the limits is kept; anything else
// (damage, encryption, a limit, a stop) is left to the scan, which meets it as on one thread.
// Reports, counters and containers inside stay the scan's, on its thread, in entry order.
class ArchiveAhead {
 public:
  struct Entry {
    EntrySpool spool;
    // The detection, made when the file filter gives the entry to the detectors.
    std::optional<FileDetection> detection;
  };

  // `leaf_of`: an entry's own file name, by which the filter takes it; `folder_path`: the
  // archive's display path. Reads nothing ahead without a pool or where the reader has no
  // twins. Counts what it holds in `budget` (the top-level file's) for as long as it lives.
  ArchiveAhead(ScanSession& session, ArchiveReader& archive, ContainerBudget& budget,
               std::function<std::string(const ArchiveEntry&)> leaf_of, std::string folder_path);
  ~ArchiveAhead();
  ArchiveAhead(const ArchiveAhead&) = delete;
  ArchiveAhead& operator=(const ArchiveAhead&) = delete;

  // Entry `index` (every entry the scan's reader gives counts, from 0) read ahead whole, when
  // it was and the reader tells the same `entry`; null: the scan reads it itself. Asked in
  // increasing order of `index`; what it gives lasts until the next call.
  Entry* Take(uint64_t index, const ArchiveEntry& entry);

 private:
  struct Job {
    uint64_t index = 0;
    ArchiveEntry entry;
    std::string leaf;
    bool detect = false;
    std::unique_ptr<Entry> result;  // null: left to the scan
  };
  // Entries [from, end) of the archive and the jobs of those read ahead, by index.
  struct Window {
    std::vector<Job> jobs;
    size_t taken = 0;  // jobs before this one the scan has passed
    uint64_t end = 0;
    uint64_t bytes = 0;    // its entries' sizes: the work it is
    uint64_t held = 0;     // what its entries may hold in memory, counted in the budget
    uint64_t spilled = 0;  // and in temporary files
    std::unique_ptr<DetectionPool::Batch> reading;  // its jobs on the pool, until finished
  };
  struct TwinReader {
    std::unique_ptr<ArchiveReader> reader;
    uint64_t next = 0;  // the index of the entry its NextEntry gives; kNever once it ended
    bool busy = false;
  };

  static bool SkipTo(TwinReader& twin, uint64_t index);
  static std::optional<ArchiveEntry> NextOf(TwinReader& twin);
  void MoveTo(uint64_t index);
  // Lists the window from entry `from` on and starts reading its entries on the pool.
  std::unique_ptr<Window> Start(uint64_t from);
  void Finish(Window& window);
  void Drop(std::unique_ptr<Window>& window);
  // Whether one more window, a large entry first, fits in what the budget has left.
  bool RoomForWindow() const;
  // Whether the entry may be read ahead at all, room aside.
  bool Wanted(const ArchiveEntry& entry, const std::string& leaf) const;
  void Read(Job& job);
  void ReadWith(TwinReader& twin, Job& job);

  ScanSession& session_;
  ArchiveReader& archive_;
  ContainerBudget& budget_;
  std::function<std::string(const ArchiveEntry&)> leaf_of_;
  std::string folder_path_;
  DetectionPool* pool_ = nullptr;
  // Lists the headers of each window; null: nothing is read ahead (any more).
  std::unique_ptr<TwinReader> scout_;
  bool started_ = false;
  // The entry the scout listed last that starts the next window, when it did not fit in the
  // window before.
  std::optional<Job> held_back_;
  std::vector<std::unique_ptr<TwinReader>> twins_;  // guarded by mutex_
  std::mutex mutex_;
  // The window the scan is in first, then those after it, being read.
  std::deque<std::unique_ptr<Window>> windows_;
};

}  // namespace quarn
