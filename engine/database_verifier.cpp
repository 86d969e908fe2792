#include "engine/database_verifier.h"

#include <cstdio>
#include <set>

#include "engine/database_version.h"
#include "engine/record_formats.h"
#include "engine/section_walk.h"
#include "engine/virus_names.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

constexpr uint32_t kDirectoryEnd = kDirectoryStart + kDescriptorSize * kSectionCount;

std::string SectionName(const RecordFormat& format) {
  return "section " + std::to_string(format.section) + " (" + std::string(format.keyword) + ")";
}

const FieldFormat* IdField(const RecordFormat& format) {
  for (const FieldFormat& field : format.fields) {
    if (!format.id_field.empty() && field.name == format.id_field) return &field;
  }
  return nullptr;
}

SectionDescriptor DescriptorOf(const DatabaseImage& signatures, int section) {
  WorkBlock directory;
  CopyImageBytes(directory.data(), signatures, 0, kWorkBlockSize);
  SectionDescriptor descriptor;
  ReadSectionDescriptor(&descriptor, directory, DirectoryOffset(section));
  return descriptor;
}

// The ids that section 30 names: memory viruses take their names from there.
std::set<uint32_t> MemoryNamedIds(const DatabaseImage& signatures) {
  std::set<uint32_t> ids;
  for (SectionWalk walk(signatures, DirectoryOffset(kMemoryNameSection), kMemoryNameRecordSize);
       !walk.AtEnd(); walk.Next()) {
    if (ReadU8(walk.Record(), 2) != 0) ids.insert(ReadU16(walk.Record(), 0));
  }
  return ids;
}

bool IsNamed(const DatabaseImage& names, uint32_t id) {
  return id != 0 && id <= NameRecordCount(names) && !GetVirusName(names, id).empty();
}

void CheckRecordIds(const RecordFormat& format, const DatabaseImage& signatures,
                    const DatabaseImage& names, const std::set<uint32_t>& memory_names,
                    std::vector<std::string>* problems) {
  const FieldFormat* id_field = IdField(format);
  if (id_field == nullptr || format.section == kMemoryNameSection) return;
  uint32_t number = 0;
  for (SectionWalk walk(signatures, DirectoryOffset(format.section), format.size); !walk.AtEnd();
       walk.Next(), ++number) {
    uint32_t id = ReadU16(walk.Record(), id_field->offset);
    std::string where = SectionName(format) + " record " + std::to_string(number + 1);
    if (id == 0) {
      problems->push_back(where + ": VirusId 0, which means \"nothing found\"");
    } else if (format.section == kMemoryPatternSection) {
      if (!memory_names.count(id)) {
        problems->push_back(where + ": VirusId " + std::to_string(id) +
                            " has no name in section 30 (memory-name)");
      }
    } else if (!IsNamed(names, id)) {
      problems->push_back(where + ": VirusId " + std::to_string(id) + " has no name");
    }
  }
}

}  // namespace

std::vector<std::string> VerifyDatabase(const DatabaseImage& signatures,
                                        const DatabaseImage& names) {
  std::vector<std::string> problems;
  if (signatures.size() < kDirectoryEnd) {
    problems.push_back("the signature image holds " + std::to_string(signatures.size()) +
                       " bytes, fewer than its section directory's " +
                       std::to_string(kDirectoryEnd));
  }
  if (names.size() < kNameTableStart) {
    problems.push_back("the name image holds " + std::to_string(names.size()) +
                       " bytes, fewer than the 11 before its first record");
  }
  std::set<uint32_t> memory_names = MemoryNamedIds(signatures);
  for (const RecordFormat& format : AllRecordFormats()) {
    SectionDescriptor descriptor = DescriptorOf(signatures, format.section);
    if (descriptor.record_count == 0) continue;
    std::string name = SectionName(format);
    uint8_t size = format.size != 0 ? format.size : descriptor.record_size;
    if (descriptor.record_size == 0) {
      problems.push_back(name + ": record size 0");
      continue;
    }
    if (descriptor.record_size != size) {
      problems.push_back(name + ": record size " + std::to_string(descriptor.record_size) +
                         ", but its reader steps by " + std::to_string(size));
      continue;
    }
    uint64_t end = static_cast<uint64_t>(descriptor.offset) +
                   static_cast<uint64_t>(descriptor.record_count) * descriptor.record_size;
    if (end > signatures.size()) {
      problems.push_back(name + ": " + std::to_string(descriptor.record_count) +
                         " records from offset " + std::to_string(descriptor.offset) +
                         " run past the end of the image (" + std::to_string(signatures.size()) +
                         " bytes)");
      continue;
    }
    CheckRecordIds(format, signatures, names, memory_names, &problems);
  }
  SectionDescriptor version = DescriptorOf(signatures, kVersionSection);
  if (static_cast<uint64_t>(version.offset) + kVersionSectionSize > signatures.size()) {
    problems.push_back("section 34 (version): the version bytes lie beyond the image");
  } else {
    DatabaseVersion date = ReadDatabaseVersion(signatures);
    if (date.month < 1 || date.month > 12) {
      problems.push_back("section 34 (version): month " + std::to_string(date.month) +
                         " is not 1 to 12");
    }
  }
  for (uint32_t id : kFixedVirusIds) {
    if (!IsNamed(names, id)) {
      problems.push_back("fixed VirusId " + std::to_string(id) + " has no name");
    }
  }
  return problems;
}

std::string DescribeDatabase(const DatabaseImage& signatures, const DatabaseImage& names) {
  DatabaseVersion version = ReadDatabaseVersion(signatures);
  char date[32];
  std::snprintf(date, sizeof date, "%02u/%04u", version.month, version.year);
  std::string text = "version   " + std::to_string(version.version) + "\n" + "date      " + date +
                     "\n" + "names     " + std::to_string(NameRecordCount(names)) + " records\n" +
                     "sections\n";
  for (const RecordFormat& format : AllRecordFormats()) {
    SectionDescriptor descriptor = DescriptorOf(signatures, format.section);
    if (descriptor.record_count == 0 && format.size == 0) continue;
    char line[96];
    std::snprintf(line, sizeof line, "  %2d  %-20s %6u\n", format.section,
                  std::string(format.keyword).c_str(), descriptor.record_count);
    text += line;
  }
  return text;
}

}  // namespace quarn
