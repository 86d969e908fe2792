#include "platform/sealed_memory_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace quarn {

std::optional<SealedMemoryFile> SealedMemoryFile::Create(std::span<const uint8_t> bytes) {
  const int descriptor = memfd_create("quarn-sealed", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (descriptor < 0) return std::nullopt;
  SealedMemoryFile made(descriptor);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(descriptor, bytes.data() + done, bytes.size() - done);
    if (wrote <= 0) return std::nullopt;
    done += static_cast<size_t>(wrote);
  }
  // A reopening by name gets its own position, so the one left at the end does not matter.
  if (fcntl(descriptor, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) !=
      0) {
    return std::nullopt;
  }
  return made;
}

SealedMemoryFile::~SealedMemoryFile() {
  if (descriptor_ >= 0) close(descriptor_);
}

std::string SealedMemoryFile::LibraryName() const {
  return "/proc/self/fd/" + std::to_string(descriptor_);
}

}  // namespace quarn
