#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "containers/container.h"
#include "platform/file.h"
#include "platform/status.h"

namespace quarn {

// An archive entry's bytes, read once from the archive (which cannot go back) and kept for
// as long as the scan looks at the entry: in memory up to kSpoolMemoryBytes, past that in an
// unnamed temporary file, so memory does not grow with the entry; or, for an entry stored as
// it is, left where it lies in the archive.
class EntrySpool {
 public:
  static constexpr uint64_t kSpoolMemoryBytes = uint64_t{1} << 20;

  // `temporary_folder`: where the file past kSpoolMemoryBytes is made; empty: $TMPDIR.
  explicit EntrySpool(std::string temporary_folder = {})
      : temporary_folder_(std::move(temporary_folder)) {}
  // Holds `bytes` from the start, without copying them.
  explicit EntrySpool(std::vector<uint8_t> bytes)
      : memory_(std::make_shared<std::vector<uint8_t>>(std::move(bytes))), size_(memory_->size()) {}

  // Adds bytes at the end. Fails, naming the cause, when the temporary file cannot be made
  // or written.
  Status Append(const uint8_t* bytes, size_t length);
  // Makes room in memory for an entry whose header says it holds `size` bytes, up to what the
  // spool keeps in memory: the bytes then go in without being moved again as they come.
  void Reserve(uint64_t size) {
    if (!spilled_ && memory_->empty()) memory_->reserve(std::min(size, kSpoolMemoryBytes));
  }
  // Takes the entry's bytes from where they lie instead; the spool must be empty.
  void Refer(const EntryInPlace& place);
  uint64_t size() const { return size_; }
  // The bytes, when they are held in memory (neither spilled to a file nor left in place);
  // valid until the next Append.
  std::optional<std::span<const uint8_t>> Held() const {
    if (spilled_) return std::nullopt;
    return std::span<const uint8_t>(*memory_);
  }

  // A new handle on the bytes, read only, at position 0; each handle keeps its own position
  // and stays usable after the spool is gone.
  std::unique_ptr<File> Open() const;

 private:
  std::shared_ptr<std::vector<uint8_t>> memory_ = std::make_shared<std::vector<uint8_t>>();
  // The temporary file, or the archive whose bytes from `offset_` on are the entry's.
  std::shared_ptr<File> spilled_;
  uint64_t offset_ = 0;
  uint64_t size_ = 0;
  std::string temporary_folder_;
};

}  // namespace quarn
