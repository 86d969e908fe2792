#include "containers/entry_spool.h"

#include <algorithm>
#include <cstring>

#include "platform/unnamed_file.h"

namespace quarn {
namespace {

// What a handle of a spool refuses: it is read only.
class ReadOnlyEntryFile : public File {
 public:
  std::optional<uint64_t> Seek(int64_t offset, SeekOrigin origin) override {
    const std::optional<uint64_t> size = Size();
    int64_t base = 0;
    if (origin == SeekOrigin::kCurrent) base = static_cast<int64_t>(position_);
    if (origin == SeekOrigin::kEnd) base = size ? static_cast<int64_t>(*size) : 0;
    if (base + offset < 0) return std::nullopt;
    position_ = static_cast<uint64_t>(base + offset);
    return position_;
  }
  uint64_t Position() const override { return position_; }
  uint32_t Write(const void*, uint32_t) override { return 0; }
  bool SetEndOfFile() override { return false; }
  bool Flush() override { return true; }
  std::optional<FileTimes> GetTimes() override { return FileTimes{}; }
  bool SetTimes(const FileTimes&) override { return false; }
  std::optional<FileAttributes> GetAttributes() override { return FileAttributes{}; }
  bool SetAttributes(const FileAttributes&) override { return false; }
  std::optional<FileInfo> GetInfo() override {
    FileInfo info;
    info.size = Size().value_or(0);
    return info;
  }
  bool SetOwner(uint32_t, uint32_t) override { return false; }

 protected:
  uint64_t position_ = 0;
};

class MemoryEntryFile : public ReadOnlyEntryFile {
 public:
  explicit MemoryEntryFile(std::shared_ptr<const std::vector<uint8_t>> bytes)
      : bytes_(std::move(bytes)) {}
  uint32_t Read(void* buffer, uint32_t length) override {
    if (position_ >= bytes_->size()) return 0;
    const uint32_t count =
        static_cast<uint32_t>(std::min<uint64_t>(length, bytes_->size() - position_));
    std::memcpy(buffer, bytes_->data() + position_, count);
    position_ += count;
    return count;
  }
  std::optional<uint64_t> Size() override { return bytes_->size(); }

 private:
  std::shared_ptr<const std::vector<uint8_t>> bytes_;
};

// A handle of its own on a part of a shared file (the temporary file, or the archive): every
// read seeks it first.
class SpilledEntryFile : public ReadOnlyEntryFile {
 public:
  SpilledEntryFile(std::shared_ptr<File> file, uint64_t offset, uint64_t size)
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

}  // namespace

Status EntrySpool::Append(const uint8_t* bytes, size_t length) {
  if (!spilled_ && size_ + length > kSpoolMemoryBytes) {
    auto file = CreateUnnamedFile();
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
  if (spilled_) return std::make_unique<SpilledEntryFile>(spilled_, offset_, size_);
  return std::make_unique<MemoryEntryFile>(memory_);
}

}  // namespace quarn
