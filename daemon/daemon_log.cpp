#include "daemon/daemon_log.h"

#include <cerrno>
#include <ctime>

#include "platform/path_names.h"

namespace quarn {

DaemonLog::~DaemonLog() {
  if (file_ != nullptr) std::fclose(file_);
}

Status DaemonLog::OpenFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "ae");
  if (file == nullptr) {
    return Status::Error(path + ": cannot open the log: " + ErrnoText(errno));
  }
  std::lock_guard lock(mutex_);
  if (file_ != nullptr) std::fclose(file_);
  file_ = file;
  return Status::Ok();
}

void DaemonLog::Line(std::string_view text) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%a %b %e %H:%M:%S %Y", &local);
  std::string line = std::string(stamp) + " -> " + std::string(text) + "\n";
  std::lock_guard lock(mutex_);
  std::FILE* out = file_ != nullptr ? file_ : stderr;
  std::fwrite(line.data(), 1, line.size(), out);
  std::fflush(out);
}

}  // namespace quarn
