#include "dbtool/database_codec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dbtool/signature_source.h"
#include "engine/database_version.h"
#include "engine/descramble.h"
#include "engine/record_formats.h"
#include "engine/section_walk.h"
#include "engine/virus_names.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

// Everything the scanner can read from a database pair: the records each reader walks, the
// version fields and the name of every id.
struct ScannerView {
  std::vector<std::vector<std::vector<uint8_t>>> sections;
  DatabaseVersion version;
  std::vector<std::string> names;

  bool operator==(const ScannerView& other) const {
    return sections == other.sections && version.version == other.version.version &&
           version.month == other.version.month && version.year == other.version.year &&
           names == other.names;
  }
};

ScannerView ViewOf(const DatabaseImage& signatures, const DatabaseImage& names) {
  ScannerView view;
  WorkBlock directory;
  CopyImageBytes(directory.data(), signatures, 0, kWorkBlockSize);
  for (const RecordFormat& format : AllRecordFormats()) {
    SectionDescriptor descriptor;
    ReadSectionDescriptor(&descriptor, directory, DirectoryOffset(format.section));
    uint8_t size = format.size != 0 ? format.size : descriptor.record_size;
    std::vector<std::vector<uint8_t>> records;
    if (size != 0) {
      for (SectionWalk walk(signatures, DirectoryOffset(format.section), size); !walk.AtEnd();
           walk.Next()) {
        records.emplace_back(walk.Record().begin(), walk.Record().end());
      }
    }
    view.sections.push_back(records);
  }
  view.version = ReadDatabaseVersion(signatures);
  for (uint32_t id = 0; id <= NameRecordCount(names) + 3; ++id) {
    view.names.push_back(GetVirusName(names, id));
  }
  return view;
}

DatabaseImage ImageOfFile(const std::vector<uint8_t>& file) {
  std::vector<uint8_t> image(file.begin() + 512, file.end());
  Descramble(image.data(), image.size());
  return DatabaseImage(image);
}

DatabaseContent RandomContent(std::mt19937& random) {
  DatabaseContent content;
  content.version = static_cast<uint8_t>(random());
  content.month = static_cast<uint8_t>(1 + random() % 12);
  content.year = static_cast<uint16_t>(1990 + random() % 40);
  for (const RecordFormat& format : AllRecordFormats()) {
    int count = random() % 4 == 0 ? 0 : static_cast<int>(random() % 40);
    if (format.section == 4 && random() % 2) count = 200 + random() % 400;  // several blocks
    uint8_t size = format.size != 0 ? format.size : static_cast<uint8_t>(1 + random() % 40);
    if (format.size == 0 && count > 0) content.sections[format.section].record_size = size;
    for (int i = 0; i < count; ++i) {
      std::vector<uint8_t> record(size);
      for (uint8_t& byte : record) byte = static_cast<uint8_t>(random());
      content.sections[format.section].records.push_back(record);
    }
  }
  int names = static_cast<int>(random() % 60);
  for (int i = 0; i < names; ++i) {
    std::string name(random() % 29, 'x');
    for (char& c : name) c = static_cast<char>(1 + random() % 255);
    content.names[1 + random() % 900] = name;
  }
  content.name_records = random() % 3 == 0 ? static_cast<uint32_t>(random() % 1000) : 0;
  return content;
}

DatabaseFiles Compile(const DatabaseContent& content) {
  auto files = CompileDatabase(content);
  EXPECT_TRUE(files.ok()) << files.message();
  return files.ok() ? files.value() : DatabaseFiles{};
}

// dump then build, through the text.
DatabaseFiles DumpAndBuild(const DatabaseImage& signatures, const DatabaseImage& names) {
  std::string text = FormatSignatureSource(DecompileDatabase(signatures, names, nullptr));
  auto parsed = ParseSignatureSource({{"dump.qsig", text}});
  EXPECT_TRUE(parsed.ok()) << parsed.message();
  return parsed.ok() ? Compile(parsed.value()) : DatabaseFiles{};
}

TEST(DatabaseCodec, RoundTripOfBuiltDatabasesIsByteForByte) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 40; ++trial) {
    DatabaseFiles original = Compile(RandomContent(random));
    DatabaseImage signatures = ImageOfFile(original.signatures);
    DatabaseImage names = ImageOfFile(original.names);
    DatabaseFiles again = DumpAndBuild(signatures, names);
    ASSERT_EQ(again.signatures.size(), original.signatures.size()) << "trial " << trial;
    for (size_t i = 0; i < again.signatures.size(); ++i) {
      ASSERT_EQ(again.signatures[i], original.signatures[i]) << "trial " << trial << " byte " << i;
    }
    ASSERT_EQ(again.names, original.names) << "trial " << trial;
  }
}

// A database laid out by some other tool: sections in another order, shared and overlapping,
// junk between them, spare descriptor bytes set, names with bytes after their end, and empty
// name records at the end of the table.
std::pair<DatabaseImage, DatabaseImage> ForeignDatabase(std::mt19937& random) {
  std::vector<uint8_t> signatures(20000);
  for (uint8_t& byte : signatures) byte = static_cast<uint8_t>(random());
  for (const RecordFormat& format : AllRecordFormats()) {
    uint8_t* descriptor = &signatures[DirectoryOffset(format.section)];
    uint8_t size = format.size != 0 ? format.size : static_cast<uint8_t>(1 + random() % 30);
    uint16_t count = static_cast<uint16_t>(random() % 300);
    uint32_t offset = 400 + random() % (20000 - 400 - count * size);
    WriteU32(descriptor, offset);
    WriteU16(descriptor + 4, count);
    descriptor[8] = size;
  }
  // The version section somewhere in the middle of another section's records.
  WriteU32(&signatures[DirectoryOffset(kVersionSection)], 9000);
  std::vector<uint8_t> names(11 + 30 * 50 + 17);
  for (uint8_t& byte : names) byte = static_cast<uint8_t>(random());
  for (int id = 45; id <= 50; ++id) names[11 + 30 * (id - 1) + 2] = 0;  // trailing empty names
  return {DatabaseImage(signatures), DatabaseImage(names)};
}

TEST(DatabaseCodec, ForeignDatabasesAreReadTheSameAfterDumpAndBuild) {
  std::mt19937 random(11);
  for (int trial = 0; trial < 20; ++trial) {
    auto [signatures, names] = ForeignDatabase(random);
    DatabaseFiles rebuilt = DumpAndBuild(signatures, names);
    ASSERT_FALSE(rebuilt.signatures.empty());
    ScannerView before = ViewOf(signatures, names);
    ScannerView after = ViewOf(ImageOfFile(rebuilt.signatures), ImageOfFile(rebuilt.names));
    for (size_t section = 0; section < before.sections.size(); ++section) {
      EXPECT_EQ(before.sections[section], after.sections[section])
          << "trial " << trial << " section " << section;
    }
    EXPECT_EQ(before.names, after.names) << "trial " << trial;
    EXPECT_EQ(before.version.year, after.version.year) << "trial " << trial;
    EXPECT_EQ(before.version.month, after.version.month) << "trial " << trial;
    EXPECT_EQ(before.version.version, after.version.version) << "trial " << trial;
  }
}

TEST(DatabaseCodec, UnwalkableSectionsAreNotedAndLeftOut) {
  std::vector<uint8_t> signatures(1000, 0);
  WriteU32(&signatures[DirectoryOffset(0)], 990);
  WriteU16(&signatures[DirectoryOffset(0) + 4], 3);  // runs past the end
  signatures[DirectoryOffset(0) + 8] = 16;
  WriteU32(&signatures[DirectoryOffset(4)], 400);
  WriteU16(&signatures[DirectoryOffset(4) + 4], 2);
  signatures[DirectoryOffset(4) + 8] = 16;  // the reader steps by 20
  std::vector<std::string> notes;
  DatabaseContent content =
      DecompileDatabase(DatabaseImage(signatures), DatabaseImage(std::vector<uint8_t>(11)), &notes);
  EXPECT_TRUE(content.sections[0].records.empty());
  EXPECT_TRUE(content.sections[4].records.empty());
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_NE(notes[0].find("section 0 (exe-entry)"), std::string::npos);
  EXPECT_NE(notes[1].find("section 4 (exe-pattern)"), std::string::npos);
}

TEST(DatabaseCodec, OversizedSectionsAreRefused) {
  DatabaseContent content;
  content.sections[26].records.assign(65536, std::vector<uint8_t>(2, 0));
  auto files = CompileDatabase(content);
  ASSERT_FALSE(files.ok());
  EXPECT_NE(files.message().find("65535"), std::string::npos);
}

}  // namespace
}  // namespace quarn
