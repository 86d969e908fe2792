#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "platform/unique_descriptor.h"

namespace quarn {

// Where the daemon tells what it does and what went wrong: LogFile, else standard error.
// Lines from every thread stay whole. A line that cannot be written (the disk full, the
// file's folder gone) is counted, and the count is told first once lines go through again.
class DaemonLog {
 public:
  DaemonLog() = default;
  DaemonLog(const DaemonLog&) = delete;
  DaemonLog& operator=(const DaemonLog&) = delete;

  // Appends to `path` from now on; the failure names the file and the cause.
  Status OpenFile(const std::string& path);
  // Opens the file's path anew (SIGHUP, as logrotate sends after moving the file away).
  // When it cannot be opened, lines are counted lost until it can: at the next Reopen or,
  // tried at most once a second, at a later line.
  void Reopen();
  // A line with the time before it.
  void Line(std::string_view text);

 private:
  // Whether the file can take lines: one whose name is gone (its folder removed) is opened
  // again, and a closed one opened again when a second has passed since the last try.
  bool Usable();
  bool TryOpen();

  std::mutex mutex_;
  std::string path_;  // empty: standard error
  UniqueDescriptor file_;
  std::chrono::steady_clock::time_point last_try_;
  uint64_t lost_ = 0;
};

}  // namespace quarn
