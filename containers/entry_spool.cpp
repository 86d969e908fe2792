#include "containers/entry_spool.h"

#include <algorithm>
#include <cstring>

#include "containers/file_part.h"
#include "platform/bytes_file.h"
#include "platform/unnamed_file.h"

namespace quarn {
Status EntrySpool::Append(const uint8_t* bytes, size_t length) {
  if (!spilled_ && size_ + length > kSpoolMemoryBytes) {
    auto file = CreateUnnamedFile(temporary_folder_);
    if (!file) return file.status();
    spilled_ = std::move(*file);
    if (!memory_->empty() &&
        spilled_->Write(memory_->data(), static_cast<uint32_t>(memory_->size())) !=
            memory_->size()) {
      return Status::Error("a temporary file for an archive entry cannot be written");
    }
    memory_ = std::make_shared<std::vector<uint8_t>>();
  }
  if (spilled_) {
    if (!spilled_->Seek(static_cast<int64_t>(size_), SeekOrigin::kBegin) ||
        spilled_->Write(bytes, static_cast<uint32_t>(length)) != length) {
      return Status::Error("a temporary file for an archive entry cannot be written");
    }
  } else {
    memory_->insert(memory_->end(), bytes, bytes + length);
  }
  size_ += length;
  return Status::Ok();
}

void EntrySpool::Refer(const EntryInPlace& place) {
  spilled_ = place.archive;
  offset_ = place.offset;
  size_ = place.size;
}

std::unique_ptr<File> EntrySpool::Open() const {
  if (spilled_) return std::make_unique<FilePart>(spilled_, offset_, size_);
  return std::make_unique<BytesFile>(std::span<const uint8_t>(*memory_), memory_);
}

}  // namespace quarn
