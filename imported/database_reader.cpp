#include "imported/database_reader.h"

#include <algorithm>
#include <mutex>

namespace quarn {
namespace {

class BytesReader : public DatabaseReader {
 public:
  explicit BytesReader(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  uint64_t size() const override { return bytes_.size(); }
  bool Read(uint64_t offset, std::span<uint8_t> out) const override {
    if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
    std::copy_n(bytes_.begin() + static_cast<ptrdiff_t>(offset), out.size(), out.begin());
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
};

class FileReader : public DatabaseReader {
 public:
  FileReader(std::unique_ptr<File> file, uint64_t size) : file_(std::move(file)), size_(size) {}
  uint64_t size() const override { return size_; }
  bool Read(uint64_t offset, std::span<uint8_t> out) const override {
    if (offset > size_ || out.size() > size_ - offset) return false;
    // One position for every thread: lookups are few (a file whose size some hash has, a
    // name to show), so they take turns.
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_->Seek(static_cast<int64_t>(offset), SeekOrigin::kBegin) != offset) return false;
    for (size_t done = 0; done < out.size();) {
      const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(out.size() - done, 1u << 30));
      const uint32_t got = file_->Read(out.data() + done, piece);
      if (got == 0) return false;
      done += got;
    }
    return true;
  }

 private:
  std::unique_ptr<File> file_;
  uint64_t size_;
  mutable std::mutex mutex_;
};

}  // namespace

std::unique_ptr<DatabaseReader> ReaderOfBytes(std::vector<uint8_t> bytes) {
  return std::make_unique<BytesReader>(std::move(bytes));
}

std::unique_ptr<DatabaseReader> ReaderOfFile(std::unique_ptr<File> file, uint64_t size) {
  return std::make_unique<FileReader>(std::move(file), size);
}

}  // namespace quarn
