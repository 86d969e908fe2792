// SPDX-License-Identifier: Apache-2.0
#include "engine/database_version.h"

#include <tuple>

#include "engine/section_walk.h"
#include "platform/byte_reader.h"

namespace quarn {

int ReadDatabaseVersion(const DatabaseImage& signatures, uint16_t directory_offset,
                        uint16_t* version, uint16_t* month, uint16_t* year) {
  WorkBlock block;
  CopyImageBytes(block.data(), signatures, 0, kWorkBlockSize);
  SectionDescriptor descriptor;
  ReadSectionDescriptor(&descriptor, block, directory_offset);
  // Only the offset counts here: the version section's count and size are not read.
  CopyImageBytes(block.data(), signatures, descriptor.offset, kWorkBlockSize);
  std::span<const uint8_t> bytes(block);
  *version = ReadU8(bytes, kVersionField);
  *month = ReadU8(bytes, kVersionMonthField);
  *year = ReadU16(bytes, kVersionYearField);
  return 0;
}

DatabaseVersion ReadDatabaseVersion(const DatabaseImage& signatures) {
  DatabaseVersion result;
  ReadDatabaseVersion(signatures, DirectoryOffset(kVersionSection), &result.version, &result.month,
                      &result.year);
  return result;
}

std::string DatabaseDateText(const DatabaseVersion& version) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::string month =
      version.month >= 1 && version.month <= 12 ? kMonths[version.month - 1] : "???";
  return month + " " + std::to_string(version.year);
}

bool IsNewerDatabase(const DatabaseVersion& candidate, const DatabaseVersion& current) {
  return std::tuple(candidate.version, candidate.year, candidate.month) >
         std::tuple(current.version, current.year, current.month);
}

std::string DatabaseVersionText(const DatabaseVersion& version, const std::string& folder) {
  return "database " + std::to_string(version.version) + " of " + DatabaseDateText(version) + " (" +
         folder + ")";
}

}  // namespace quarn
