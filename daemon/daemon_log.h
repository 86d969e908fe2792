#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace quarn {

// Where the daemon tells what it does and what went wrong: LogFile, else standard error.
// Lines from every thread stay whole.
class DaemonLog {
 public:
  DaemonLog() = default;
  ~DaemonLog();
  DaemonLog(const DaemonLog&) = delete;
  DaemonLog& operator=(const DaemonLog&) = delete;

  // Appends to `path` from now on; the failure names the file and the cause.
  Status OpenFile(const std::string& path);
  // A line with the time before it.
  void Line(std::string_view text);

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;  // null: standard error
};

}  // namespace quarn
