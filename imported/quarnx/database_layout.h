#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// QUARNX.DAT's layout, for its writer and its reader; docs/imported-database.md tells it in
// prose.
namespace quarn::imported_layout {

inline constexpr char kMagic[] = "QUARNXDB";
inline constexpr size_t kMagicBytes = 8;
inline constexpr size_t kVersionAt = 8;
inline constexpr size_t kSectionCountAt = 10;
inline constexpr size_t kDirectoryCrcAt = 12;
inline constexpr size_t kHeaderBytes = 16;

inline constexpr size_t kEntryIdAt = 0;
inline constexpr size_t kEntryCrcAt = 4;
inline constexpr size_t kEntryOffsetAt = 8;
inline constexpr size_t kEntrySizeAt = 16;
inline constexpr size_t kEntryBytes = 24;

inline constexpr uint32_t kStringsSection = 1;
inline constexpr uint32_t kSignaturesSection = 2;
inline constexpr uint32_t kHashesSection = 3;
inline constexpr uint32_t kMatcherSection = 4;

inline constexpr size_t kRecordNameAt = 0;
inline constexpr size_t kRecordSourceAt = 4;
inline constexpr size_t kRecordLineAt = 8;
inline constexpr size_t kRecordKindAt = 12;
inline constexpr size_t kRecordTargetAt = 13;
inline constexpr size_t kRecordBodyAt = 16;
inline constexpr size_t kRecordBytes = 20;
inline constexpr uint32_t kNoBody = 0xFFFFFFFF;

inline constexpr size_t kHashSizeAt = 0;
inline constexpr size_t kHashSignatureAt = 8;
inline constexpr size_t kHashKindAt = 12;
inline constexpr size_t kHashLengthAt = 13;
inline constexpr size_t kHashDigestAt = 16;
inline constexpr size_t kHashBytes = 48;
inline constexpr size_t kLongestDigest = 32;

// Little-endian numbers of `bytes` bytes. The caller keeps `at + bytes` within the span.
inline void Put(std::span<uint8_t> out, size_t at, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
inline uint64_t Get(std::span<const uint8_t> in, size_t at, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes; ++i) value |= uint64_t{in[at + i]} << (8 * i);
  return value;
}

// zlib's CRC-32 of any length; `crc` is that of the bytes before, to go on from.
uint32_t Crc(std::span<const uint8_t> bytes, uint32_t crc = 0);

}  // namespace quarn::imported_layout
