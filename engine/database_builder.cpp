#include "engine/database_builder.h"

#include <cstring>

#include "engine/descramble.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

constexpr uint32_t kFirstSectionOffset = kDirectoryStart + kDescriptorSize * kSectionCount;
constexpr uint32_t kMaxRecordsPerSection = 0xFFFF;
constexpr uint32_t kMaxNameRecords = 1u << 20;

}  // namespace

Result<std::vector<uint8_t>> BuildSignatureImage(const DatabaseContent& content) {
  std::vector<uint8_t> image(kFirstSectionOffset, 0);
  for (int index = 0; index < kSectionCount; ++index) {
    const SectionRecords& section = content.sections[index];
    uint8_t* descriptor = nullptr;
    uint32_t offset = static_cast<uint32_t>(image.size());
    uint16_t count = 0;
    uint8_t size = 0;
    if (index == kVersionSection) {
      uint8_t bytes[kVersionSectionSize] = {};
      bytes[kVersionField] = content.version;
      bytes[kVersionMonthField] = content.month;
      WriteU16(bytes + kVersionYearField, content.year);
      image.insert(image.end(), bytes, bytes + sizeof bytes);
      count = 1;
      size = kVersionSectionSize;
    } else {
      size = section.record_size != 0 ? section.record_size : ReaderRecordSize(index);
      if (section.records.size() > kMaxRecordsPerSection) {
        return Status::Error("section " + std::to_string(index) + " has " +
                             std::to_string(section.records.size()) +
                             " records; a section holds at most 65535");
      }
      for (const auto& record : section.records) {
        if (record.size() != size || size == 0) {
          return Status::Error("section " + std::to_string(index) + ": a record of " +
                               std::to_string(record.size()) + " bytes in a section of " +
                               std::to_string(size) + "-byte records");
        }
        image.insert(image.end(), record.begin(), record.end());
      }
      count = static_cast<uint16_t>(section.records.size());
    }
    descriptor = image.data() + DirectoryOffset(index);
    WriteU32(descriptor + kDescriptorOffsetField, offset);
    WriteU16(descriptor + kDescriptorCountField, count);
    descriptor[kDescriptorSizeField] = size;
  }
  return image;
}

Result<std::vector<uint8_t>> BuildNameImage(const DatabaseContent& content) {
  uint32_t records = content.name_records;
  if (!content.names.empty()) records = std::max(records, content.names.rbegin()->first);
  if (records > kMaxNameRecords) {
    return Status::Error("the name table would hold " + std::to_string(records) +
                         " records; at most " + std::to_string(kMaxNameRecords) + " are allowed");
  }
  std::vector<uint8_t> image(kNameTableStart + static_cast<size_t>(records) * kNameRecordSize, 0);
  for (const auto& [id, name] : content.names) {
    if (id == 0) return Status::Error("VirusId 0 cannot have a name");
    if (name.size() > kNameFieldLength) {
      return Status::Error("the name of VirusId " + std::to_string(id) + " is longer than " +
                           std::to_string(kNameFieldLength) + " bytes");
    }
    if (name.empty()) continue;  // an empty name is no name: the record stays all zeros
    uint8_t* record =
        image.data() + kNameTableStart + static_cast<size_t>(id - 1) * kNameRecordSize;
    WriteU16(record, static_cast<uint16_t>(id));
    std::memcpy(record + kNameFieldOffset, name.data(), name.size());
  }
  return image;
}

std::vector<uint8_t> EncodeDatabaseFile(std::span<const uint8_t> image) {
  std::vector<uint8_t> file(512 + image.size(), 0);
  std::memcpy(file.data(), kDatabaseMagic, sizeof kDatabaseMagic);  // with its zero byte
  if (!image.empty()) std::memcpy(file.data() + 512, image.data(), image.size());
  Scramble(file.data() + 512, image.size());
  return file;
}

}  // namespace quarn
