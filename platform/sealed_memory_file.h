#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quarn {

// Bytes held in an anonymous file in memory that nothing can change once made: for a format
// library that opens files by name alone and asks to write them ("r+b"). The library reads a
// private copy under the name /proc/self/fd/N; no file is created on any disk, and no write
// it attempts can succeed.
class SealedMemoryFile {
 public:
  // Nothing when the system cannot make one (no memory file support, memory short).
  static std::optional<SealedMemoryFile> Create(std::span<const uint8_t> bytes);

  SealedMemoryFile(SealedMemoryFile&& other) noexcept : descriptor_(other.descriptor_) {
    other.descriptor_ = -1;
  }
  SealedMemoryFile& operator=(SealedMemoryFile&&) = delete;
  ~SealedMemoryFile();

  // The name under which this process opens the bytes, while this object lives.
  std::string LibraryName() const;

 private:
  explicit SealedMemoryFile(int descriptor) : descriptor_(descriptor) {}
  int descriptor_;
};

}  // namespace quarn
