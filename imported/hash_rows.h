#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/status.h"

namespace quarn {

// The hash section of a QUARNX.DAT as a scan looks in it: the rows stay where they lie (in a
// mapping of the file, shared with every other scanner and read only where touched); memory
// holds a filter of the sizes they are of, so the size check every scanned file makes seldom
// touches them, and a lookup is a binary search over them.
//
// Every row read is within the section, and a digest's length is taken as at most the row's
// room for one, whatever the bytes say: rows changed under a mapping after Load can make
// lookups miss, never read out of bounds or loop.
class HashRows {
 public:
  HashRows() = default;

  // Checks every row of `rows` and builds the filter. `kinds` holds each signature's kind by
  // index: a row must be of a signature of its own kind, one row each (its entry is cleared
  // as the row is met), and the rows sorted by kind, size, digest and signature.
  static Result<HashRows> Load(std::span<const uint8_t> rows, std::vector<uint8_t>& kinds);

  uint64_t count() const { return rows_.size() / kRowBytes; }
  uint64_t file_hashes() const { return file_hashes_; }

  // Whether some row of `kind` is for `size` bytes.
  bool HasSize(uint8_t kind, uint64_t size) const;
  // The signature of the first row of `kind`, `size` and `digest`.
  std::optional<uint32_t> Find(uint8_t kind, uint64_t size, std::span<const uint8_t> digest) const;
  // The row of `signature`'s hash, found by a walk over all of them (for tools, not scans).
  std::optional<uint64_t> RowOf(uint32_t signature) const;
  uint64_t SizeAt(uint64_t row) const;
  std::span<const uint8_t> DigestAt(uint64_t row) const;

  static constexpr size_t kRowBytes = 48;

 private:
  // The first row not below (kind, size, digest).
  uint64_t LowerBound(uint8_t kind, uint64_t size, std::span<const uint8_t> digest) const;
  size_t FilterBit(uint8_t kind, uint64_t size) const;

  std::span<const uint8_t> rows_;
  std::vector<uint64_t> filter_;  // a bit set for each (kind, size) a row has, and others
  unsigned filter_shift_ = 64;    // a hash's top bits choose the filter's bit
  uint64_t file_hashes_ = 0;
};

}  // namespace quarn
