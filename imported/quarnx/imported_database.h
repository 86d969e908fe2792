#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "imported/imported_signature.h"
#include "imported/quarnx/database_reader.h"
#include "imported/quarnx/hash_rows.h"
#include "platform/status.h"

namespace quarn {

inline constexpr char kImportedDatabaseFileName[] = "QUARNX.DAT";
inline constexpr uint16_t kImportedDatabaseVersion = 1;

// A QUARNX.DAT read back and checked whole: the header, every section's bounds and CRC-32,
// every record's references, every hash row and their order, and every pattern's text (see
// Checks). The
// file's bytes stay where they are (the file, for the scanner): records, strings and hash
// rows are read from it when asked, and only the body signatures' indexes, a filter of the
// hashes' sizes and an index of their blocks are held besides. A file cut short since makes
// those reads fail: a name comes back empty, a lookup says it failed.
class ImportedDatabase {
 public:
  // What is checked as the file is read. kAll: everything (quarndb verify). kForScans: a
  // pattern's text only when ForEachBody reads it, the matcher's image by its own checksum
  // when it is loaded, not by the section's CRC, and the hash rows by LoadHashRows, which
  // the scanner runs beside the matcher's load: a scanner whose matcher loads from
  // the image never reads the patterns, and parsing a million of them and reading the image
  // twice would be most of its start-up. A damaged image is compiled again from the
  // patterns, which the CRCs still guard.
  enum class Checks : uint8_t { kAll, kForScans };

  // Fails with the cause ("version 2 is not supported", "section 3 fails its CRC"…); the
  // caller adds the file's name.
  static Result<ImportedDatabase> Decode(std::unique_ptr<DatabaseReader> file,
                                         Checks checks = Checks::kAll);
  static Result<ImportedDatabase> Decode(std::vector<uint8_t> bytes) {
    return Decode(ReaderOfBytes(std::move(bytes)));
  }

  uint32_t size() const { return static_cast<uint32_t>(records_.size / kRecordBytes); }
  // The signature at `index` (below size()). A hash signature's row is found by a walk over
  // all rows: for tools and tests, not for scans.
  ImportedSignature Signature(uint32_t index) const;
  // The name of the signature at `index`; empty past the last or when it cannot be read.
  std::string Name(uint32_t index) const;
  // Each body signature in order, with its offset rule and pattern, from one read of the
  // records and strings (at start, for the matcher). False when they cannot be read.
  bool ForEachBody(const std::function<void(uint32_t index, ImportedSignature::Target target,
                                            OffsetRule offset, BodyPattern pattern)>& take) const;

  // The body signatures' indexes, in order.
  const std::vector<uint32_t>& bodies() const { return bodies_; }
  uint64_t file_hashes() const { return hashes_.file_hashes(); }
  uint64_t section_hashes() const { return hashes_.count() - hashes_.file_hashes(); }
  // The compiled matcher the file carries; empty when it carries none or it cannot be read.
  std::vector<uint8_t> matcher() const;

  // Checks the hash rows and builds their filter and index, where Decode left them to it
  // (Checks::kForScans); until then every hash lookup fails, so no file is judged on rows not
  // yet checked. May run on another thread than the calls to matcher(), bodies() and
  // ForEachBody, never beside a hash lookup.
  Status LoadHashRows();

  // Whether some hash of `kind` (kFileHash or kSectionHash) is of a file or section of
  // `size` bytes: only then is a digest worth computing. Mostly answered from memory; true
  // when the file cannot be read, so that FindHash says so.
  bool HasHashOfSize(ImportedSignature::Kind kind, uint64_t size) const;
  // The lowest index of a signature of `kind` whose hash is `digest` for `size` bytes, or
  // that the file could not be read to know.
  HashLookup FindHash(ImportedSignature::Kind kind, uint64_t size,
                      std::span<const uint8_t> digest) const;

  static constexpr size_t kRecordBytes = 20;
  static constexpr size_t kHashBytes = HashRows::kRowBytes;

 private:
  // Where a section lies in the file.
  struct Extent {
    uint64_t offset = 0;
    uint64_t size = 0;
  };
  // The string at `offset` of the strings, empty when it cannot be read.
  std::string StringAt(uint64_t offset) const;
  // The record at `index`, or nothing when it cannot be read.
  std::optional<std::array<uint8_t, kRecordBytes>> RecordAt(uint32_t index) const;

  std::unique_ptr<DatabaseReader> file_;
  Extent strings_;  // ends with a NUL, or is empty
  Extent records_;
  Extent matcher_;
  struct PendingHashes {
    Extent rows;
    uint32_t crc = 0;
    std::vector<uint8_t> kinds;  // each signature's kind, by index
  };

  HashRows hashes_;
  std::optional<PendingHashes> pending_hashes_;
  std::vector<uint32_t> bodies_;
};

}  // namespace quarn
