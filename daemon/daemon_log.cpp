#include "daemon/daemon_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/path_names.h"

namespace quarn {
namespace {

constexpr auto kRetryEvery = std::chrono::seconds(1);

bool WriteWhole(int descriptor, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(descriptor, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

std::string Stamped(std::string_view text) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%a %b %e %H:%M:%S %Y", &local);
  return std::string(stamp) + " -> " + std::string(text) + "\n";
}

int OpenForAppending(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0640);
}

}  // namespace

Status DaemonLog::OpenFile(const std::string& path) {
  UniqueDescriptor file(OpenForAppending(path));
  if (file.get() < 0) return Status::Error(path + ": cannot open the log: " + ErrnoText(errno));
  std::lock_guard lock(mutex_);
  path_ = path;
  file_ = std::move(file);
  return Status::Ok();
}

bool DaemonLog::TryOpen() {
  last_try_ = std::chrono::steady_clock::now();
  file_ = UniqueDescriptor(OpenForAppending(path_));
  return file_.get() >= 0;
}

void DaemonLog::Reopen() {
  std::lock_guard lock(mutex_);
  if (!path_.empty()) TryOpen();
}

bool DaemonLog::Usable() {
  if (file_.get() >= 0) {
    // Lines written to a file no folder holds any more are read by nobody.
    struct stat facts {};
    if (fstat(file_.get(), &facts) != 0 || facts.st_nlink > 0) return true;
    file_.Close();
  } else if (std::chrono::steady_clock::now() - last_try_ < kRetryEvery) {
    return false;
  }
  return TryOpen();
}

void DaemonLog::Line(std::string_view text) {
  const std::string line = Stamped(text);
  std::lock_guard lock(mutex_);
  if (!path_.empty() && !Usable()) {
    ++lost_;
    return;
  }
  const int out = path_.empty() ? STDERR_FILENO : file_.get();
  if (lost_ > 0 &&
      WriteWhole(out, Stamped("WARNING: " + std::to_string(lost_) + " log lines were lost"))) {
    lost_ = 0;
  }
  if (!WriteWhole(out, line)) ++lost_;
}

}  // namespace quarn
