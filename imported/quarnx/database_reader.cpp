#include "imported/quarnx/database_reader.h"

#include <algorithm>
#include <mutex>

#include "platform/file_reads.h"

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
    for (size_t done = 0; done < out.size();) {
      const size_t piece = std::min<size_t>(out.size() - done, size_t{1} << 30);
      if (!ReadExactlyAt(*file_, offset + done, out.subspan(done, piece))) return false;
      done += piece;
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
