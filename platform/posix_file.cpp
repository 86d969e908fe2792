#include "platform/posix_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

namespace quarn {
namespace {

constexpr int64_t kNanosecondsPerSecond = 1'000'000'000;

timespec ToTimespec(FileTime time) {
  // Floor division, so that times before 1970 keep a nanosecond part in [0, 1e9).
  int64_t seconds = time / kNanosecondsPerSecond;
  int64_t nanoseconds = time % kNanosecondsPerSecond;
  if (nanoseconds < 0) {
    nanoseconds += kNanosecondsPerSecond;
    --seconds;
  }
  timespec result{};
  result.tv_sec = static_cast<time_t>(seconds);
  result.tv_nsec = static_cast<long>(nanoseconds);
  return result;
}

}  // namespace

std::string_view FileKindName(uint32_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "of an unknown kind";
}

std::string NotRegularFileCause(uint32_t mode) {
  return "is " + std::string(FileKindName(mode)) + ", not a regular file";
}

FileTime FileTimeFromParts(int64_t seconds, int64_t nanoseconds) {
  constexpr int64_t kMax = std::numeric_limits<FileTime>::max();
  constexpr int64_t kMin = std::numeric_limits<FileTime>::min();
  if (seconds > kMax / kNanosecondsPerSecond - 1) return kMax;
  if (seconds < kMin / kNanosecondsPerSecond + 1) return kMin;
  return seconds * kNanosecondsPerSecond + nanoseconds;
}

PosixFile::PosixFile(int descriptor) : descriptor_(descriptor) {
  off_t offset = lseek(descriptor_, 0, SEEK_CUR);
  if (offset > 0) position_ = static_cast<uint64_t>(offset);
}

PosixFile::~PosixFile() {
  if (descriptor_ >= 0) close(descriptor_);
}

uint32_t PosixFile::Read(void* buffer, uint32_t length) {
  // Positioned reads: the handle's position lives here, so a seek costs no system call.
  const uint32_t done = *ReadAtOffset(position_, buffer, length);
  position_ += done;
  return done;
}

std::optional<uint32_t> PosixFile::ReadAtOffset(uint64_t offset, void* buffer, uint32_t length) {
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < length) {
    ssize_t got = pread(descriptor_, out + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<uint32_t>(got);
  }
  return done;
}

uint32_t PosixFile::ReadSome(void* buffer, uint32_t length) {
  ssize_t got;
  do {
    got = pread(descriptor_, buffer, length, static_cast<off_t>(position_));
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return 0;
  position_ += static_cast<uint64_t>(got);
  return static_cast<uint32_t>(got);
}

std::optional<uint64_t> PosixFile::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = 0;
  switch (origin) {
    case SeekOrigin::kBegin:
      break;
    case SeekOrigin::kCurrent:
      base = static_cast<int64_t>(position_);
      break;
    case SeekOrigin::kEnd: {
      struct stat status;
      if (fstat(descriptor_, &status) != 0) return std::nullopt;
      base = status.st_size;
      break;
    }
  }
  int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) return std::nullopt;
  position_ = static_cast<uint64_t>(target);
  return position_;
}

std::optional<uint64_t> PosixFile::Size() {
  struct stat status;
  if (fstat(descriptor_, &status) != 0) return std::nullopt;
  if (S_ISBLK(status.st_mode)) {
    // A block device tells its size only by a seek to its end; reads and writes name their
    // offset, so moving the descriptor's own offset changes nothing.
    const off_t end = lseek(descriptor_, 0, SEEK_END);
    return end < 0 ? std::nullopt : std::optional<uint64_t>(static_cast<uint64_t>(end));
  }
  return static_cast<uint64_t>(status.st_size);
}

uint32_t PosixFile::Write(const void* buffer, uint32_t length) {
  if (appends_) return Append(buffer, length);
  const auto* in = static_cast<const uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < length) {
    ssize_t put =
        pwrite(descriptor_, in + done, length - done, static_cast<off_t>(position_ + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<uint32_t>(put);
  }
  position_ += done;
  return done;
}

uint32_t PosixFile::Append(const void* buffer, uint32_t length) {
  // write(), not pwrite(): with O_APPEND the kernel moves to the end and writes in one step,
  // which is what keeps two programs' lines apart. A write cut short by a signal or a full
  // disk goes on with the rest, which may then land after another writer's line.
  const auto* in = static_cast<const uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < length) {
    ssize_t put = write(descriptor_, in + done, length - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<uint32_t>(put);
  }
  if (off_t end = lseek(descriptor_, 0, SEEK_CUR); end >= 0) position_ = static_cast<uint64_t>(end);
  return done;
}

bool PosixFile::SetEndOfFile() {
  int result;
  do {
    result = ftruncate(descriptor_, static_cast<off_t>(position_));
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool PosixFile::Flush() {
  int result;
  do {
    result = fsync(descriptor_);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

std::optional<FileTimes> PosixFile::GetTimes() {
  FileTimes times;
  struct statx extended;
  if (statx(descriptor_, "", AT_EMPTY_PATH, STATX_ATIME | STATX_MTIME | STATX_BTIME, &extended) ==
      0) {
    times.last_access = FileTimeFromParts(extended.stx_atime.tv_sec, extended.stx_atime.tv_nsec);
    times.last_write = FileTimeFromParts(extended.stx_mtime.tv_sec, extended.stx_mtime.tv_nsec);
    if (extended.stx_mask & STATX_BTIME) {
      times.creation = FileTimeFromParts(extended.stx_btime.tv_sec, extended.stx_btime.tv_nsec);
    }
    return times;
  }
  // Kernels before 4.11 have no statx: they have no creation time to offer either.
  struct stat status;
  if (fstat(descriptor_, &status) != 0) return std::nullopt;
  times.last_access = FileTimeFromParts(status.st_atim.tv_sec, status.st_atim.tv_nsec);
  times.last_write = FileTimeFromParts(status.st_mtim.tv_sec, status.st_mtim.tv_nsec);
  return times;
}

bool PosixFile::SetTimes(const FileTimes& times) {
  const timespec both[2] = {ToTimespec(times.last_access), ToTimespec(times.last_write)};
  return futimens(descriptor_, both) == 0;
}

std::optional<FileAttributes> PosixFile::GetAttributes() {
  struct stat status;
  if (fstat(descriptor_, &status) != 0) return std::nullopt;
  FileAttributes attributes = kept_;
  attributes.read_only = (status.st_mode & S_IWUSR) == 0;
  return attributes;
}

bool PosixFile::SetAttributes(const FileAttributes& attributes) {
  struct stat status;
  if (fstat(descriptor_, &status) != 0) return false;
  mode_t mode = status.st_mode & 07777;
  mode_t wanted = attributes.read_only ? (mode & ~S_IWUSR) : (mode | S_IWUSR);
  if (wanted != mode && fchmod(descriptor_, wanted) != 0) return false;
  kept_.hidden = attributes.hidden;
  kept_.system = attributes.system;
  kept_.archive = attributes.archive;
  return true;
}

FileInfo InfoFromStat(const struct stat& status) {
  FileInfo info;
  info.size = static_cast<uint64_t>(status.st_size);
  info.link_count = static_cast<uint32_t>(status.st_nlink);
  info.mode = status.st_mode & 07777;
  info.owner = status.st_uid;
  info.group = status.st_gid;
  info.device = status.st_dev;
  info.inode = status.st_ino;
  info.last_write = FileTimeFromParts(status.st_mtim.tv_sec, status.st_mtim.tv_nsec);
  info.last_change = FileTimeFromParts(status.st_ctim.tv_sec, status.st_ctim.tv_nsec);
  return info;
}

std::optional<FileInfo> PosixFile::GetInfo() {
  struct stat status;
  if (fstat(descriptor_, &status) != 0) return std::nullopt;
  return InfoFromStat(status);
}

bool PosixFile::SetOwner(uint32_t owner, uint32_t group) {
  return fchown(descriptor_, owner, group) == 0;
}

bool PosixFile::SetMode(uint32_t mode) {
  return fchmod(descriptor_, static_cast<mode_t>(mode & 07777)) == 0;
}

}  // namespace quarn
