#include "dbtool/database_codec.h"

#include "engine/record_formats.h"
#include "engine/database_version.h"
#include "engine/section_walk.h"
#include "engine/virus_names.h"

namespace quarn {

Result<DatabaseFiles> CompileDatabase(const DatabaseContent& content) {
  auto signatures = BuildSignatureImage(content);
  if (!signatures) return signatures.status();
  auto names = BuildNameImage(content);
  if (!names) return names.status();
  return DatabaseFiles{EncodeDatabaseFile(*signatures), EncodeDatabaseFile(*names)};
}

DatabaseContent DecompileDatabase(const DatabaseImage& signatures, const DatabaseImage& names,
                                  std::vector<std::string>* notes) {
  DatabaseContent content;
  WorkBlock directory;
  CopyImageBytes(directory.data(), signatures, 0, kWorkBlockSize);
  for (const RecordFormat& format : AllRecordFormats()) {
    SectionDescriptor descriptor;
    ReadSectionDescriptor(&descriptor, directory, DirectoryOffset(format.section));
    if (descriptor.record_count == 0) continue;
    // A section no reader walks keeps the size its descriptor gives.
    uint8_t size = format.size != 0 ? format.size : descriptor.record_size;
    if (!SectionIsWalkable(descriptor, size, signatures)) {
      if (notes) {
        notes->push_back("section " + std::to_string(format.section) + " (" +
                         std::string(format.keyword) +
                         ") cannot be walked and reads as empty; it was left out");
      }
      continue;
    }
    SectionRecords& section = content.sections[format.section];
    if (format.size == 0) section.record_size = size;
    SectionWalk walk(signatures, DirectoryOffset(format.section), size);
    for (; !walk.AtEnd(); walk.Next()) {
      section.records.emplace_back(walk.Record().begin(), walk.Record().end());
    }
  }
  DatabaseVersion version = ReadDatabaseVersion(signatures);
  content.version = static_cast<uint8_t>(version.version);
  content.month = static_cast<uint8_t>(version.month);
  content.year = version.year;
  content.name_records = NameRecordCount(names);
  for (uint32_t id = 1; id <= content.name_records; ++id) {
    std::string name = GetVirusName(names, id);
    if (!name.empty()) content.names[id] = std::move(name);
  }
  return content;
}

}  // namespace quarn
