#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "platform/read_only_file.h"

namespace quarn {

// `size` bytes of a shared file from `offset` on, as a read-only file of their own (a spooled
// entry in the temporary file or the archive, the archive behind a program): every read seeks
// the shared file first, so handles on parts of one file keep their own positions.
class FilePart : public ReadOnlyFile {
 public:
  FilePart(std::shared_ptr<File> file, uint64_t offset, uint64_t size)
      : file_(std::move(file)), offset_(offset), size_(size) {}
  uint32_t Read(void* buffer, uint32_t length) override {
    if (position_ >= size_) return 0;
    const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(length, size_ - position_));
    const uint64_t at = offset_ + position_;
    if (file_->Seek(static_cast<int64_t>(at), SeekOrigin::kBegin) != at) return 0;
    const uint32_t got = file_->Read(buffer, wanted);
    position_ += got;
    return got;
  }
  std::optional<uint64_t> Size() override { return size_; }

 private:
  std::shared_ptr<File> file_;
  uint64_t offset_;
  uint64_t size_;
};

}  // namespace quarn
