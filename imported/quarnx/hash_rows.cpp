#include "imported/quarnx/hash_rows.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "imported/imported_signature.h"
#include "imported/quarnx/database_layout.h"

namespace quarn {
namespace {

using namespace imported_layout;

static_assert(HashRows::kRowBytes == kHashBytes);

// Each row of the filter's memory stands for this many bits of it: a lookup of a size no row
// has passes it about one time in six or fewer.
constexpr uint64_t kFilterBitsPerRow = 4;
// Rows a lookup reads at once (3 KiB); the index holds one row of each block.
constexpr uint64_t kBlockRows = 64;
// Rows Load reads at once.
constexpr uint64_t kLoadRows = 16 * 1024;

bool IsHashKind(uint64_t kind) {
  return kind == static_cast<uint8_t>(ImportedSignature::Kind::kFileHash) ||
         kind == static_cast<uint8_t>(ImportedSignature::Kind::kSectionHash);
}

bool IsDigestLength(uint64_t length) {
  return length == 16 || length == 20 || length == 32;
}

HashRows::Row RowAt(std::span<const uint8_t> rows, uint64_t row) {
  const std::span<const uint8_t> bytes = rows.subspan(row * kHashBytes, kHashBytes);
  HashRows::Row at;
  at.kind = static_cast<uint8_t>(Get(bytes, kHashKindAt, 1));
  at.size = Get(bytes, kHashSizeAt, 8);
  at.signature = static_cast<uint32_t>(Get(bytes, kHashSignatureAt, 4));
  at.digest_length =
      static_cast<uint8_t>(std::min<size_t>(Get(bytes, kHashLengthAt, 1), kLongestDigest));
  std::copy_n(bytes.begin() + kHashDigestAt, at.digest_length, at.digest_bytes.begin());
  return at;
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

int Compare(const HashRows::Row& row, uint8_t kind, uint64_t size,
            std::span<const uint8_t> digest) {
  return Compare(row.kind, row.size, row.digest(), kind, size, digest);
}

// splitmix64's finisher over the pair: neighbouring sizes land far apart.
uint64_t Mix(uint8_t kind, uint64_t size) {
  uint64_t x = size * 0x9E3779B97F4A7C15ULL + kind;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

}  // namespace

Result<HashRows> HashRows::Load(const DatabaseReader& reader, uint64_t offset, uint64_t size,
                                uint32_t crc, std::vector<uint8_t>& kinds) {
  if (size % kHashBytes != 0) return Status::Error("a record section is not whole records");
  HashRows hashes;
  hashes.offset_ = offset;
  hashes.count_ = size / kHashBytes;
  const uint64_t bits = std::bit_ceil(std::max<uint64_t>(64, hashes.count_ * kFilterBitsPerRow));
  hashes.filter_.assign(bits / 64, 0);
  hashes.filter_shift_ = 64 - static_cast<unsigned>(std::countr_zero(bits));
  hashes.block_firsts_.reserve((hashes.count_ + kBlockRows - 1) / kBlockRows);
  std::vector<uint8_t> chunk;
  Row before;
  uint32_t read_crc = 0;
  std::optional<std::string> fault;  // the first, told once the CRC holds
  for (uint64_t first = 0; first < hashes.count_; first += kLoadRows) {
    const uint64_t rows = std::min(kLoadRows, hashes.count_ - first);
    chunk.resize(rows * kHashBytes);
    if (!reader.Read(offset + first * kHashBytes, chunk)) {
      return Status::Error("the hashes cannot be read");
    }
    read_crc = Crc(chunk, read_crc);
    for (uint64_t in_chunk = 0; in_chunk < rows && !fault; ++in_chunk) {
      const uint64_t row = first + in_chunk;
      const Row at = RowAt(chunk, in_chunk);
      if (!IsHashKind(at.kind) ||
          !IsDigestLength(Get(chunk, in_chunk * kHashBytes + kHashLengthAt, 1)) ||
          at.signature >= kinds.size() || kinds[at.signature] != at.kind) {
        fault = "hash " + std::to_string(row) + " is malformed";
        break;
      }
      kinds[at.signature] = 0;  // a second row of the signature is malformed
      if (row > 0) {
        const int order = Compare(before, at.kind, at.size, at.digest());
        if (order > 0 || (order == 0 && before.signature >= at.signature)) {
          fault = "the hashes are out of order at " + std::to_string(row);
          break;
        }
      }
      if (at.kind == static_cast<uint8_t>(ImportedSignature::Kind::kFileHash)) {
        ++hashes.file_hashes_;
      }
      const size_t bit = hashes.FilterBit(at.kind, at.size);
      hashes.filter_[bit / 64] |= uint64_t{1} << (bit % 64);
      if (row % kBlockRows == 0) hashes.block_firsts_.push_back(at);
      before = at;
    }
  }
  if (read_crc != crc)
    return Status::Error("section " + std::to_string(kHashesSection) + " fails its CRC");
  if (fault) return Status::Error(*fault);
  return hashes;
}

size_t HashRows::FilterBit(uint8_t kind, uint64_t size) const {
  return static_cast<size_t>(Mix(kind, size) >> filter_shift_);
}

std::optional<std::pair<uint64_t, std::optional<HashRows::Row>>> HashRows::LowerBound(
    const DatabaseReader& reader, uint8_t kind, uint64_t size,
    std::span<const uint8_t> digest) const {
  // The first block whose first row is not below the key: the answer is that row, or lies in
  // the block before it.
  const auto next = std::partition_point(
      block_firsts_.begin(), block_firsts_.end(),
      [&](const Row& first) { return Compare(first, kind, size, digest) < 0; });
  const uint64_t next_block = static_cast<uint64_t>(next - block_firsts_.begin());
  const uint64_t next_row = std::min(next_block * kBlockRows, count_);
  const auto at_next = [&]() -> std::pair<uint64_t, std::optional<Row>> {
    if (next == block_firsts_.end()) return {count_, std::nullopt};
    return {next_row, *next};
  };
  if (next_block == 0) return at_next();
  const uint64_t first = (next_block - 1) * kBlockRows;
  std::array<uint8_t, kBlockRows * kHashBytes> block;
  const std::span<uint8_t> rows(block.data(), (next_row - first) * kHashBytes);
  if (!reader.Read(offset_ + first * kHashBytes, rows)) return std::nullopt;
  // The block's first row, held in memory, is below the key.
  for (uint64_t row = 1; row < next_row - first; ++row) {
    const Row at = RowAt(rows, row);
    if (Compare(at, kind, size, digest) >= 0) return std::pair(first + row, std::optional(at));
  }
  return at_next();
}

bool HashRows::HasSize(const DatabaseReader& reader, uint8_t kind, uint64_t size) const {
  if (filter_.empty()) return false;
  const size_t bit = FilterBit(kind, size);
  if ((filter_[bit / 64] & (uint64_t{1} << (bit % 64))) == 0) return false;
  const auto found = LowerBound(reader, kind, size, {});
  if (!found) return true;
  const std::optional<Row>& at = found->second;
  return at && at->kind == kind && at->size == size;
}

HashLookup HashRows::Find(const DatabaseReader& reader, uint8_t kind, uint64_t size,
                          std::span<const uint8_t> digest) const {
  const auto found = LowerBound(reader, kind, size, digest);
  if (!found) return {std::nullopt, true};
  const std::optional<Row>& at = found->second;
  if (!at || Compare(*at, kind, size, digest) != 0) return {};
  return {at->signature, false};
}

std::optional<HashRows::Row> HashRows::RowOf(const DatabaseReader& reader,
                                             uint32_t signature) const {
  std::vector<uint8_t> chunk;
  for (uint64_t first = 0; first < count_; first += kLoadRows) {
    const uint64_t rows = std::min(kLoadRows, count_ - first);
    chunk.resize(rows * kHashBytes);
    if (!reader.Read(offset_ + first * kHashBytes, chunk)) return std::nullopt;
    for (uint64_t row = 0; row < rows; ++row) {
      const Row at = RowAt(chunk, row);
      if (at.signature == signature) return at;
    }
  }
  return std::nullopt;
}

}  // namespace quarn
