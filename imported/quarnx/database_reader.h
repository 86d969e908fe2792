#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/file.h"

namespace quarn {

// QUARNX.DAT's bytes as a loaded database reads them: copied out where asked, never mapped.
// An administrator's `cp` or `truncate` over the file in place then makes a read come up
// short, which the caller answers as a failed lookup; a mapping would end the process with
// a signal at the first page cut off. Safe to share between threads.
class DatabaseReader {
 public:
  virtual ~DatabaseReader() = default;
  // The size the bytes had when the reader was made.
  virtual uint64_t size() const = 0;
  // Fills all of `out` with the bytes from `offset`; false when not all of them could be had
  // (the file is shorter now, or does not read), and `out` is then unspecified.
  virtual bool Read(uint64_t offset, std::span<uint8_t> out) const = 0;
};

std::unique_ptr<DatabaseReader> ReaderOfBytes(std::vector<uint8_t> bytes);
// Reads `file`, `size` bytes long when opened, one request at a time.
std::unique_ptr<DatabaseReader> ReaderOfFile(std::unique_ptr<File> file, uint64_t size);

}  // namespace quarn
