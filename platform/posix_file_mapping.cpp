#include "platform/posix_file_mapping.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <limits>

namespace quarn {
namespace {

class MappedBytes : public FileBytes {
 public:
  MappedBytes(void* start, size_t size) : start_(start), size_(size) {}
  ~MappedBytes() override { munmap(start_, size_); }
  MappedBytes(const MappedBytes&) = delete;
  MappedBytes& operator=(const MappedBytes&) = delete;

  std::span<const uint8_t> bytes() const override {
    return {static_cast<const uint8_t*>(start_), size_};
  }
  bool mapped() const override { return true; }

 private:
  void* start_;
  size_t size_;
};

}  // namespace

std::unique_ptr<FileBytes> MapPosixFile(int descriptor) {
  struct stat info {};
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
      static_cast<uint64_t>(info.st_size) > std::numeric_limits<size_t>::max()) {
    return nullptr;
  }
  if (info.st_size == 0) return HoldBytes({});
  const auto size = static_cast<size_t>(info.st_size);
  void* start = mmap(nullptr, size, PROT_READ, MAP_SHARED, descriptor, 0);
  if (start == MAP_FAILED) return nullptr;
  return std::make_unique<MappedBytes>(start, size);
}

}  // namespace quarn
