#include "imported/matching/matcher_image.h"

#include <algorithm>
#include <cstring>

namespace quarn {
namespace {

constexpr char kMagic[4] = {'Q', 'X', 'V', 'S'};
constexpr uint32_t kFormatVersion = 3;
// Each a database of its own; more is damage.
constexpr uint32_t kMostDatabases = 4096;
constexpr size_t kChecksumSize = 8;
// A reason is Vectorscan's sentence; anything longer is damage.
constexpr uint32_t kLongestReason = 4096;

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutU64(std::vector<uint8_t>& out, uint64_t value) {
  PutU32(out, static_cast<uint32_t>(value));
  PutU32(out, static_cast<uint32_t>(value >> 32));
}

// Reads fields in order, each checked against what is left.
class FieldReader {
 public:
  explicit FieldReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  bool Take(size_t length, std::span<const uint8_t>& field) {
    if (length > bytes_.size() - at_) return false;
    field = bytes_.subspan(at_, length);
    at_ += length;
    return true;
  }
  bool U32(uint32_t& value) {
    std::span<const uint8_t> field;
    if (!Take(4, field)) return false;
    value = 0;
    for (int index = 3; index >= 0; --index) value = value << 8 | field[index];
    return true;
  }
  bool U64(uint64_t& value) {
    uint32_t low = 0;
    uint32_t high = 0;
    if (!U32(low) || !U32(high)) return false;
    value = uint64_t{high} << 32 | low;
    return true;
  }
  bool AtEnd() const { return at_ == bytes_.size(); }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

}  // namespace

uint64_t HashBytes(const uint8_t* bytes, size_t length, uint64_t seed) {
  constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
  // Four lanes a step: each lane's multiply waits on its own last one only, so the
  // processor runs them side by side (an image of a million patterns is 200 MiB).
  uint64_t lanes[4] = {seed ^ (length * kMultiplier), seed + 1, seed + 2, seed + 3};
  size_t at = 0;
  for (; at + 32 <= length; at += 32) {
    for (int lane = 0; lane < 4; ++lane) {
      uint64_t word;
      std::memcpy(&word, bytes + at + 8 * lane, 8);
      lanes[lane] = (lanes[lane] ^ word) * kMultiplier;
      lanes[lane] ^= lanes[lane] >> 29;
    }
  }
  uint64_t hash = lanes[0];
  for (int lane = 1; lane < 4; ++lane) hash = (hash ^ lanes[lane]) * kMultiplier;
  for (; at + 8 <= length; at += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + at, 8);
    hash = (hash ^ word) * kMultiplier;
    hash ^= hash >> 29;
  }
  for (; at < length; ++at) hash = (hash ^ bytes[at]) * kMultiplier;
  return hash ^ (hash >> 32);
}

std::vector<uint8_t> WriteMatcherImage(const MatcherImage& image) {
  // Sized first: an image of a million patterns is some 200 MiB, and growing into it would
  // hold twice that for a moment.
  size_t size = sizeof(kMagic) + 4 + 8 + 8 + 4 + 8 + image.entries.size() + 8 +
                image.packed.size() + 4 + 8 * image.databases.size() + kChecksumSize;
  for (const MatcherImage::Refusal& refusal : image.refusals) {
    size += 8 + std::min<size_t>(refusal.reason.size(), kLongestReason);
  }
  for (const std::span<const uint8_t> database : image.databases) size += database.size();
  std::vector<uint8_t> out;
  out.reserve(size);
  out.insert(out.end(), kMagic, kMagic + sizeof(kMagic));
  PutU32(out, kFormatVersion);
  PutU64(out, image.head);
  PutU64(out, image.fingerprint);
  PutU32(out, static_cast<uint32_t>(image.refusals.size()));
  for (const MatcherImage::Refusal& refusal : image.refusals) {
    PutU32(out, refusal.position);
    const size_t length = std::min<size_t>(refusal.reason.size(), kLongestReason);
    PutU32(out, static_cast<uint32_t>(length));
    out.insert(out.end(), refusal.reason.begin(), refusal.reason.begin() + length);
  }
  for (const std::span<const uint8_t> blob : {image.entries, image.packed}) {
    PutU64(out, blob.size());
    out.insert(out.end(), blob.begin(), blob.end());
  }
  PutU32(out, static_cast<uint32_t>(image.databases.size()));
  for (const std::span<const uint8_t> database : image.databases) {
    PutU64(out, database.size());
    out.insert(out.end(), database.begin(), database.end());
  }
  PutU64(out, HashBytes(out.data(), out.size(), kFormatVersion));
  return out;
}

bool MatcherImageDamaged(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return false;
  if (bytes.size() < sizeof(kMagic) + 4 + kChecksumSize ||
      std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0) {
    return true;
  }
  const std::span<const uint8_t> body = bytes.first(bytes.size() - kChecksumSize);
  uint32_t version = 0;
  uint64_t checksum = 0;
  FieldReader head(body.subspan(sizeof(kMagic)));
  FieldReader tail(bytes.last(kChecksumSize));
  if (!head.U32(version) || !tail.U64(checksum)) return true;
  // Another version's checksum may be another hash: such an image is compiled again.
  return version == kFormatVersion && checksum != HashBytes(body.data(), body.size(), version);
}

std::optional<MatcherImage> ReadMatcherImage(std::span<const uint8_t> bytes) {
  if (bytes.size() < sizeof(kMagic) + kChecksumSize ||
      std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0) {
    return std::nullopt;
  }
  const std::span<const uint8_t> body = bytes.first(bytes.size() - kChecksumSize);
  uint64_t checksum = 0;
  FieldReader tail(bytes.last(kChecksumSize));
  if (!tail.U64(checksum) || checksum != HashBytes(body.data(), body.size(), kFormatVersion)) {
    return std::nullopt;
  }
  FieldReader reader(body.subspan(sizeof(kMagic)));
  MatcherImage image;
  uint32_t version = 0;
  uint32_t refusals = 0;
  if (!reader.U32(version) || version != kFormatVersion || !reader.U64(image.head) ||
      !reader.U64(image.fingerprint) || !reader.U32(refusals)) {
    return std::nullopt;
  }
  for (uint32_t index = 0; index < refusals; ++index) {
    MatcherImage::Refusal refusal;
    uint32_t length = 0;
    std::span<const uint8_t> reason;
    if (!reader.U32(refusal.position) || !reader.U32(length) || length > kLongestReason ||
        !reader.Take(length, reason)) {
      return std::nullopt;
    }
    refusal.reason.assign(reason.begin(), reason.end());
    image.refusals.push_back(std::move(refusal));
  }
  for (std::span<const uint8_t>* blob : {&image.entries, &image.packed}) {
    uint64_t length = 0;
    if (!reader.U64(length) || length > body.size() ||
        !reader.Take(static_cast<size_t>(length), *blob)) {
      return std::nullopt;
    }
  }
  uint32_t databases = 0;
  if (!reader.U32(databases) || databases > kMostDatabases) return std::nullopt;
  for (uint32_t index = 0; index < databases; ++index) {
    uint64_t length = 0;
    std::span<const uint8_t> database;
    if (!reader.U64(length) || length > body.size() ||
        !reader.Take(static_cast<size_t>(length), database)) {
      return std::nullopt;
    }
    image.databases.push_back(database);
  }
  if (!reader.AtEnd()) return std::nullopt;
  return image;
}

}  // namespace quarn
