#include "imported/matching/matcher_image.h"

#include <algorithm>
#include <cstring>

#include "imported/matching/field_cursor.h"

namespace quarn {
namespace {

constexpr char kMagic[4] = {'Q', 'X', 'V', 'S'};
constexpr uint32_t kFormatVersion = 3;
// Each a database of its own; more is damage.
constexpr uint32_t kMostDatabases = 4096;
constexpr size_t kChecksumSize = 8;
// A reason is Vectorscan's sentence; anything longer is damage.
constexpr uint32_t kLongestReason = 4096;

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
  for (const char letter : kMagic) out.push_back(static_cast<uint8_t>(letter));
  PutField(out, kFormatVersion, 4);
  PutField(out, image.head, 8);
  PutField(out, image.fingerprint, 8);
  PutField(out, static_cast<uint32_t>(image.refusals.size()), 4);
  for (const MatcherImage::Refusal& refusal : image.refusals) {
    PutField(out, refusal.position, 4);
    const size_t length = std::min<size_t>(refusal.reason.size(), kLongestReason);
    PutField(out, static_cast<uint32_t>(length), 4);
    out.insert(out.end(), refusal.reason.begin(), refusal.reason.begin() + length);
  }
  for (const std::span<const uint8_t> blob : {image.entries, image.packed}) {
    PutField(out, blob.size(), 8);
    out.insert(out.end(), blob.begin(), blob.end());
  }
  PutField(out, static_cast<uint32_t>(image.databases.size()), 4);
  for (const std::span<const uint8_t> database : image.databases) {
    PutField(out, database.size(), 8);
    out.insert(out.end(), database.begin(), database.end());
  }
  PutField(out, HashBytes(out.data(), out.size(), kFormatVersion), 8);
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
  FieldCursor head(body.subspan(sizeof(kMagic)));
  FieldCursor tail(bytes.last(kChecksumSize));
  if (!head.Get(version) || !tail.Get(checksum)) return true;
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
  FieldCursor tail(bytes.last(kChecksumSize));
  if (!tail.Get(checksum) || checksum != HashBytes(body.data(), body.size(), kFormatVersion)) {
    return std::nullopt;
  }
  FieldCursor reader(body.subspan(sizeof(kMagic)));
  MatcherImage image;
  uint32_t version = 0;
  uint32_t refusals = 0;
  if (!reader.Get(version) || version != kFormatVersion || !reader.Get(image.head) ||
      !reader.Get(image.fingerprint) || !reader.Get(refusals)) {
    return std::nullopt;
  }
  for (uint32_t index = 0; index < refusals; ++index) {
    MatcherImage::Refusal refusal;
    uint32_t length = 0;
    std::span<const uint8_t> reason;
    if (!reader.Get(refusal.position) || !reader.Get(length) || length > kLongestReason ||
        !reader.Take(length, reason)) {
      return std::nullopt;
    }
    refusal.reason.assign(reason.begin(), reason.end());
    image.refusals.push_back(std::move(refusal));
  }
  for (std::span<const uint8_t>* blob : {&image.entries, &image.packed}) {
    uint64_t length = 0;
    if (!reader.Get(length) || length > body.size() ||
        !reader.Take(static_cast<size_t>(length), *blob)) {
      return std::nullopt;
    }
  }
  uint32_t databases = 0;
  if (!reader.Get(databases) || databases > kMostDatabases) return std::nullopt;
  for (uint32_t index = 0; index < databases; ++index) {
    uint64_t length = 0;
    std::span<const uint8_t> database;
    if (!reader.Get(length) || length > body.size() ||
        !reader.Take(static_cast<size_t>(length), database)) {
      return std::nullopt;
    }
    image.databases.push_back(database);
  }
  if (!reader.AtEnd()) return std::nullopt;
  return image;
}

}  // namespace quarn
