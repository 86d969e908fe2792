#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace quarn {

// A file's bytes, held read-only for as long as the object lives: mapped from the file where
// the platform can (File::MapReadOnly), else read into memory.
//
// Mapped pages are the page cache's: every process that maps the same file shares them, only
// the pages touched are read from storage, and under pressure the system drops them instead
// of swapping. A mapped file replaced by rename keeps its old bytes here (the old file lives
// on until it is unmapped); one rewritten in place shows the new bytes, and touching a page
// cut off in place ends the process. Files read this way are therefore replaced by rename
// only (WriteFileAtomically), never rewritten.
class FileBytes {
 public:
  virtual ~FileBytes() = default;
  virtual std::span<const uint8_t> bytes() const = 0;
  // Whether the bytes are mapped from the file rather than copied into memory.
  virtual bool mapped() const = 0;
};

// Bytes made or read in memory, held as FileBytes.
std::unique_ptr<FileBytes> HoldBytes(std::vector<uint8_t> bytes);

}  // namespace quarn
