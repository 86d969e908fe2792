#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "imported/hash_rows.h"
#include "imported/imported_signature.h"
#include "platform/file_bytes.h"
#include "platform/status.h"

namespace quarn {

inline constexpr char kImportedDatabaseFileName[] = "QUARNX.DAT";
inline constexpr uint16_t kImportedDatabaseVersion = 1;

// A QUARNX.DAT read back and checked whole: the header, every section's bounds and CRC-32,
// every record's references, every hash row and their order, and every pattern's text. The
// file's bytes stay where they were handed in (a mapping, for the scanner): records, strings
// and hash rows are read from them when asked, and only the body signatures' indexes and a
// filter of the hashes' sizes are held besides.
class ImportedDatabase {
 public:
  // Fails with the cause ("version 2 is not supported", "section 3 fails its CRC"…); the
  // caller adds the file's name.
  static Result<ImportedDatabase> Decode(std::unique_ptr<FileBytes> file);
  static Result<ImportedDatabase> Decode(std::vector<uint8_t> bytes) {
    return Decode(HoldBytes(std::move(bytes)));
  }

  uint32_t size() const { return static_cast<uint32_t>(records_.size() / kRecordBytes); }
  // The signature at `index` (below size()). A hash signature's row is found by a walk over
  // all rows: for tools and tests, not for scans.
  ImportedSignature Signature(uint32_t index) const;
  // The name of the signature at `index`; empty past the last.
  std::string Name(uint32_t index) const;

  // The body signatures' indexes, in order.
  const std::vector<uint32_t>& bodies() const { return bodies_; }
  uint64_t file_hashes() const { return hashes_.file_hashes(); }
  uint64_t section_hashes() const { return hashes_.count() - hashes_.file_hashes(); }
  // The compiled matcher the file carries; empty when it carries none.
  std::span<const uint8_t> matcher() const { return matcher_; }
  // Whether the file's bytes are mapped rather than held in this process's memory.
  bool mapped() const { return file_->mapped(); }

  // Whether some hash of `kind` (kFileHash or kSectionHash) is of a file or section of
  // `size` bytes: only then is a digest worth computing. Mostly answered from memory.
  bool HasHashOfSize(ImportedSignature::Kind kind, uint64_t size) const;
  // The lowest index of a signature of `kind` whose hash is `digest` for `size` bytes.
  std::optional<uint32_t> FindHash(ImportedSignature::Kind kind, uint64_t size,
                                   std::span<const uint8_t> digest) const;

  static constexpr size_t kRecordBytes = 20;
  static constexpr size_t kHashBytes = HashRows::kRowBytes;

 private:
  std::string StringAt(uint64_t offset) const;
  uint8_t KindAt(uint32_t index) const;

  std::unique_ptr<FileBytes> file_;
  std::span<const uint8_t> strings_;  // ends with a NUL, or is empty
  std::span<const uint8_t> records_;
  std::span<const uint8_t> matcher_;
  HashRows hashes_;
  std::vector<uint32_t> bodies_;
};

}  // namespace quarn
