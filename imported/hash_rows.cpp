#include "imported/hash_rows.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "imported/database_layout.h"
#include "imported/imported_signature.h"

namespace quarn {
namespace {

using namespace imported_layout;

static_assert(HashRows::kRowBytes == kHashBytes);

// Each row of the filter's memory stands for this many bits of it: a lookup of a size no row
// has passes it about one time in six or fewer.
constexpr uint64_t kFilterBitsPerRow = 4;

bool IsHashKind(uint64_t kind) {
  return kind == static_cast<uint8_t>(ImportedSignature::Kind::kFileHash) ||
         kind == static_cast<uint8_t>(ImportedSignature::Kind::kSectionHash);
}

bool IsDigestLength(uint64_t length) {
  return length == 16 || length == 20 || length == 32;
}

// One row's fields; the digest never longer than the row's room for it.
struct Row {
  uint8_t kind;
  uint64_t size;
  uint32_t signature;
  std::span<const uint8_t> digest;
};

Row RowAt(std::span<const uint8_t> rows, uint64_t row) {
  const std::span<const uint8_t> bytes = rows.subspan(row * kHashBytes, kHashBytes);
  const size_t length = std::min<size_t>(Get(bytes, kHashLengthAt, 1), kLongestDigest);
  return {static_cast<uint8_t>(Get(bytes, kHashKindAt, 1)), Get(bytes, kHashSizeAt, 8),
          static_cast<uint32_t>(Get(bytes, kHashSignatureAt, 4)),
          bytes.subspan(kHashDigestAt, length)};
}

// Rows and keys ordered by kind, size, then digest as a byte string.
int Compare(uint8_t kind, uint64_t size, std::span<const uint8_t> digest, uint8_t other_kind,
            uint64_t other_size, std::span<const uint8_t> other_digest) {
  if (kind != other_kind) return kind < other_kind ? -1 : 1;
  if (size != other_size) return size < other_size ? -1 : 1;
  const size_t common = std::min(digest.size(), other_digest.size());
  if (const int order = common == 0 ? 0 : std::memcmp(digest.data(), other_digest.data(), common)) {
    return order;
  }
  if (digest.size() != other_digest.size()) return digest.size() < other_digest.size() ? -1 : 1;
  return 0;
}

// splitmix64's finisher over the pair: neighbouring sizes land far apart.
uint64_t Mix(uint8_t kind, uint64_t size) {
  uint64_t x = size * 0x9E3779B97F4A7C15ULL + kind;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

}  // namespace

Result<HashRows> HashRows::Load(std::span<const uint8_t> rows, std::vector<uint8_t>& kinds) {
  if (rows.size() % kHashBytes != 0) return Status::Error("a record section is not whole records");
  HashRows hashes;
  hashes.rows_ = rows;
  const uint64_t bits = std::bit_ceil(std::max<uint64_t>(64, hashes.count() * kFilterBitsPerRow));
  hashes.filter_.assign(bits / 64, 0);
  hashes.filter_shift_ = 64 - static_cast<unsigned>(std::countr_zero(bits));
  for (uint64_t row = 0; row < hashes.count(); ++row) {
    const Row at = RowAt(rows, row);
    if (!IsHashKind(at.kind) || !IsDigestLength(Get(rows, row * kHashBytes + kHashLengthAt, 1)) ||
        at.signature >= kinds.size() || kinds[at.signature] != at.kind) {
      return Status::Error("hash " + std::to_string(row) + " is malformed");
    }
    kinds[at.signature] = 0;  // a second row of the signature is malformed
    if (row > 0) {
      const Row before = RowAt(rows, row - 1);
      const int order =
          Compare(before.kind, before.size, before.digest, at.kind, at.size, at.digest);
      if (order > 0 || (order == 0 && before.signature >= at.signature)) {
        return Status::Error("the hashes are out of order at " + std::to_string(row));
      }
    }
    if (at.kind == static_cast<uint8_t>(ImportedSignature::Kind::kFileHash)) ++hashes.file_hashes_;
    const size_t bit = hashes.FilterBit(at.kind, at.size);
    hashes.filter_[bit / 64] |= uint64_t{1} << (bit % 64);
  }
  return hashes;
}

size_t HashRows::FilterBit(uint8_t kind, uint64_t size) const {
  return static_cast<size_t>(Mix(kind, size) >> filter_shift_);
}

uint64_t HashRows::LowerBound(uint8_t kind, uint64_t size, std::span<const uint8_t> digest) const {
  uint64_t low = 0;
  uint64_t high = count();
  while (low < high) {
    const uint64_t middle = low + (high - low) / 2;
    const Row at = RowAt(rows_, middle);
    if (Compare(at.kind, at.size, at.digest, kind, size, digest) < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

bool HashRows::HasSize(uint8_t kind, uint64_t size) const {
  if (filter_.empty()) return false;
  const size_t bit = FilterBit(kind, size);
  if ((filter_[bit / 64] & (uint64_t{1} << (bit % 64))) == 0) return false;
  const uint64_t row = LowerBound(kind, size, {});
  if (row >= count()) return false;
  const Row at = RowAt(rows_, row);
  return at.kind == kind && at.size == size;
}

std::optional<uint32_t> HashRows::Find(uint8_t kind, uint64_t size,
                                       std::span<const uint8_t> digest) const {
  const uint64_t row = LowerBound(kind, size, digest);
  if (row >= count()) return std::nullopt;
  const Row at = RowAt(rows_, row);
  if (Compare(at.kind, at.size, at.digest, kind, size, digest) != 0) return std::nullopt;
  return at.signature;
}

std::optional<uint64_t> HashRows::RowOf(uint32_t signature) const {
  for (uint64_t row = 0; row < count(); ++row) {
    if (RowAt(rows_, row).signature == signature) return row;
  }
  return std::nullopt;
}

uint64_t HashRows::SizeAt(uint64_t row) const {
  return RowAt(rows_, row).size;
}

std::span<const uint8_t> HashRows::DigestAt(uint64_t row) const {
  return RowAt(rows_, row).digest;
}

}  // namespace quarn
