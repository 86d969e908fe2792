#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "engine/section_directory.h"
#include "platform/status.h"

namespace quarn {

// The records of one section, as the compiler lays them out.
struct SectionRecords {
  uint8_t record_size = 0;  // 0: the reader's size, or 0 for a section no reader walks
  std::vector<std::vector<uint8_t>> records;
};

// Everything a pair of database files holds, in a form the compiler writes and the
// decompiler fills: the records of every section, the version and date, and the names.
struct DatabaseContent {
  std::array<SectionRecords, kSectionCount> sections;
  uint8_t version = 0;
  uint8_t month = 0;
  uint16_t year = 0;
  std::map<uint32_t, std::string> names;  // VirusId → name bytes (at most 28)
  uint32_t name_records = 0;              // the table holds at least this many records
};

// Lays out the signature image: two zero bytes, the 35 descriptors, then every section's
// records in section order, each section contiguous. Fails on a section of more than 65535
// records or records whose size differs from the section's.
Result<std::vector<uint8_t>> BuildSignatureImage(const DatabaseContent& content);

// Lays out the name image: 11 zero bytes, then one 30-byte record per id up to the larger
// of the highest named id and `name_records`; a named record holds the low 16 bits of its id
// in bytes 0–1.
Result<std::vector<uint8_t>> BuildNameImage(const DatabaseContent& content);

// A whole database file: the recognisable 512-byte header, then the image scrambled.
std::vector<uint8_t> EncodeDatabaseFile(std::span<const uint8_t> image);

inline constexpr char kDatabaseMagic[] = "QUARNDB1";

}  // namespace quarn
