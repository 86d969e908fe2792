#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "imported/imported_signature.h"
#include "platform/status.h"

namespace quarn {

inline constexpr char kImportedDatabaseFileName[] = "QUARNX.DAT";
inline constexpr uint16_t kImportedDatabaseVersion = 1;

// QUARNX.DAT's bytes for `signatures`, in their order: a signature's index there is its
// index in the file (docs/imported-database.md has the layout). `matcher`: the compiled
// matcher of its body signatures, stored for the scanner to load instead of compiling.
std::vector<uint8_t> EncodeImportedDatabase(const std::vector<ImportedSignature>& signatures,
                                            std::span<const uint8_t> matcher = {});

// A QUARNX.DAT read back and checked whole: the header, every section's bounds and CRC-32,
// every record's references, the hashes' order and every pattern's text.
class ImportedDatabase {
 public:
  // Fails with the cause ("version 2 is not supported", "section 3 fails its CRC"…); the
  // caller adds the file's name.
  static Result<ImportedDatabase> Decode(std::vector<uint8_t> bytes);

  uint32_t size() const { return static_cast<uint32_t>(records_.size() / kRecordBytes); }
  ImportedSignature Signature(uint32_t index) const;
  std::string Name(uint32_t index) const;

  // The body signatures' indexes, in order.
  const std::vector<uint32_t>& bodies() const { return bodies_; }
  uint64_t file_hashes() const { return file_hashes_; }
  uint64_t section_hashes() const { return hashes_.size() / kHashBytes - file_hashes_; }
  // The compiled matcher the file carries; empty when it carries none.
  std::span<const uint8_t> matcher() const { return matcher_; }

  // Whether some hash of `kind` (kFileHash or kSectionHash) is of a file or section of
  // `size` bytes: only then is a digest worth computing.
  bool HasHashOfSize(ImportedSignature::Kind kind, uint64_t size) const;
  // The lowest index of a signature of `kind` whose hash is `digest` for `size` bytes.
  std::optional<uint32_t> FindHash(ImportedSignature::Kind kind, uint64_t size,
                                   std::span<const uint8_t> digest) const;

  static constexpr size_t kRecordBytes = 20;
  static constexpr size_t kHashBytes = 48;

 private:
  // The first hash row not below (kind, size, digest).
  size_t LowerHash(uint8_t kind, uint64_t size, std::span<const uint8_t> digest) const;
  std::string StringAt(uint64_t offset) const;

  // The file's bytes, held whole; records and hashes are read from them when asked.
  std::vector<uint8_t> bytes_;
  std::span<const uint8_t> strings_;
  std::span<const uint8_t> records_;
  std::span<const uint8_t> hashes_;  // sorted by kind, size, digest, signature
  std::span<const uint8_t> matcher_;
  std::vector<uint32_t> bodies_;
  uint64_t file_hashes_ = 0;
};

}  // namespace quarn
