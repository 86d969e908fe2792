#include "platform/file_copy.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/path_names.h"
#include "platform/posix_file.h"

namespace quarn {
namespace {

constexpr size_t kCopyStep = 1 << 20;

Status Failed(std::string_view what, int error) {
  return Status::Error(std::string(what) + ": " + ErrnoText(error));
}

// [from, to) of one descriptor into the same range of another: by the kernel where it can,
// else through a buffer.
Status CopyRange(int in, int out, off_t from, off_t to) {
  off_t in_at = from;
  off_t out_at = from;
  while (in_at < to) {
    const size_t step = static_cast<size_t>(std::min<off_t>(to - in_at, kCopyStep));
    const ssize_t copied = copy_file_range(in, &in_at, out, &out_at, step, 0);
    if (copied > 0) continue;
    if (copied == 0) return Status::Error("the source ended early");
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
      return Failed("cannot copy", errno);
    }
    std::vector<char> buffer(step);
    const ssize_t got = pread(in, buffer.data(), step, in_at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0)
      return got == 0 ? Status::Error("the source ended early") : Failed("cannot read", errno);
    for (ssize_t put = 0; put < got;) {
      const ssize_t wrote =
          pwrite(out, buffer.data() + put, static_cast<size_t>(got - put), out_at + put);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) return Failed("cannot write", wrote < 0 ? errno : ENOSPC);
      put += wrote;
    }
    in_at += got;
    out_at += got;
  }
  return Status::Ok();
}

Status CopyDescriptors(int in, int out) {
  if (ioctl(out, FICLONE, in) == 0) return Status::Ok();
  const off_t size = lseek(in, 0, SEEK_END);
  if (size < 0) return Failed("cannot tell the size", errno);
  for (off_t at = 0; at < size;) {
    off_t data = lseek(in, at, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // nothing but a hole to the end
    // A file system that cannot tell its holes is copied whole.
    if (data < 0) data = at;
    off_t hole = lseek(in, data, SEEK_HOLE);
    if (hole < 0 || hole <= data) hole = size;
    if (Status copied = CopyRange(in, out, data, hole); !copied) return copied;
    at = hole;
  }
  // The size, holes at the end included.
  if (ftruncate(out, size) != 0) return Failed("cannot set the size", errno);
  return Status::Ok();
}

// Through the File interface only, for files that are not descriptors (the in-memory twin).
Status CopyThroughFiles(File& source, File& target) {
  if (source.Seek(0, SeekOrigin::kBegin) != 0 || target.Seek(0, SeekOrigin::kBegin) != 0) {
    return Status::Error("cannot seek");
  }
  std::vector<uint8_t> buffer(kCopyStep);
  for (;;) {
    const uint32_t got = source.Read(buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (got == 0) break;
    if (target.Write(buffer.data(), got) != got) return Status::Error("cannot write");
  }
  if (!target.SetEndOfFile()) return Status::Error("cannot set the size");
  return Status::Ok();
}

}  // namespace

Status CopyFileContents(File& source, File& target) {
  auto* in = dynamic_cast<PosixFile*>(&source);
  auto* out = dynamic_cast<PosixFile*>(&target);
  if (in != nullptr && out != nullptr) return CopyDescriptors(in->descriptor(), out->descriptor());
  return CopyThroughFiles(source, target);
}

}  // namespace quarn
