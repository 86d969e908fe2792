#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "imported/quarnx/database_reader.h"
#include "platform/status.h"

namespace quarn {

// A lookup among the hash rows: the signature found, or that the rows could not be read
// (the file was cut short since it was loaded), which makes the answer unknown, not "none".
struct HashLookup {
  std::optional<uint32_t> signature;
  bool failed = false;
};

// The hash section of a QUARNX.DAT as a scan looks in it: the rows stay in the file and are
// read where a lookup needs them, a block of them at a time. Memory holds a filter of the
// sizes they are of, so the size check every scanned file makes seldom reads them, and the
// first row of every block, so a lookup reads one block.
//
// A digest's length is taken as at most the row's room for one, whatever the bytes say:
// rows changed in the file after Load can make lookups miss or fail, never read out of
// bounds or loop.
class HashRows {
 public:
  HashRows() = default;

  // Checks the CRC-32 of the `size` bytes at `offset` of `reader` against `crc` and every
  // row of them, and builds the filter and the block index. `kinds` holds each signature's
  // kind by index: a row must be of a signature of its own kind, one row each (its entry is
  // cleared as the row is met), and the rows sorted by kind, size, digest and signature. A
  // failed CRC is the cause given before any fault of a row.
  static Result<HashRows> Load(const DatabaseReader& reader, uint64_t offset, uint64_t size,
                               uint32_t crc, std::vector<uint8_t>& kinds);

  uint64_t count() const { return count_; }
  uint64_t file_hashes() const { return file_hashes_; }

  // Whether some row of `kind` may be for `size` bytes: false only when none is. True too
  // when the rows cannot be read, so the lookup that follows fails as it must.
  bool HasSize(const DatabaseReader& reader, uint8_t kind, uint64_t size) const;
  // The signature of the first row of `kind`, `size` and `digest`.
  HashLookup Find(const DatabaseReader& reader, uint8_t kind, uint64_t size,
                  std::span<const uint8_t> digest) const;

  static constexpr size_t kRowBytes = 48;

  // One row's fields; the digest never longer than the row's room for one.
  struct Row {
    uint8_t kind = 0;
    uint64_t size = 0;
    uint32_t signature = 0;
    std::array<uint8_t, 32> digest_bytes{};
    uint8_t digest_length = 0;
    std::span<const uint8_t> digest() const { return {digest_bytes.data(), digest_length}; }
  };
  // The row of `signature`'s hash, found by reading all of them (for tools, not scans).
  std::optional<Row> RowOf(const DatabaseReader& reader, uint32_t signature) const;

 private:
  // The first row not below (kind, size, digest), and its fields unless it is past the last;
  // nothing when its block cannot be read.
  std::optional<std::pair<uint64_t, std::optional<Row>>> LowerBound(
      const DatabaseReader& reader, uint8_t kind, uint64_t size,
      std::span<const uint8_t> digest) const;
  size_t FilterBit(uint8_t kind, uint64_t size) const;

  uint64_t offset_ = 0;
  uint64_t count_ = 0;
  std::vector<Row> block_firsts_;  // the first row of every block
  std::vector<uint64_t> filter_;   // a bit set for each (kind, size) a row has, and others
  unsigned filter_shift_ = 64;     // a hash's top bits choose the filter's bit
  uint64_t file_hashes_ = 0;
};

}  // namespace quarn
