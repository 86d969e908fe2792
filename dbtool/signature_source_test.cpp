#include "dbtool/signature_source.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/record_formats.h"
#include "engine/section_directory.h"

namespace quarn {
namespace {

Result<DatabaseContent> Parse(const std::string& text, const std::string& file = "test.qsig") {
  return ParseSignatureSource({{file, text}});
}

std::vector<uint8_t> OnlyRecord(const DatabaseContent& content, int section) {
  EXPECT_EQ(content.sections[section].records.size(), 1u);
  return content.sections[section].records.empty() ? std::vector<uint8_t>()
                                                   : content.sections[section].records[0];
}

TEST(SignatureSource, CountedLengthsDefaultToTheBytesGiven) {
  auto content = Parse(
      "exe-pattern id=90 window=200 area=1 pattern=B8004CCD21\n"
      "com-end id=7 pattern=\"ABC\" distance=300 pattern2=5859\n"
      "mbr-subsequence id=9 pattern=0102030405\n"
      "exe-pattern id=91 length=2 pattern=B8004C\n");
  ASSERT_TRUE(content.ok()) << content.message();
  const auto& patterns = content->sections[4].records;
  ASSERT_EQ(patterns.size(), 2u);
  EXPECT_EQ(patterns[0][2], 5);  // length counts the pattern
  EXPECT_EQ(patterns[0][3], 200);
  EXPECT_EQ(patterns[0][9], 0x21);
  EXPECT_EQ(patterns[0][10], 0);  // zero padding
  EXPECT_EQ(patterns[1][2], 2);   // an explicit length wins
  std::vector<uint8_t> end = OnlyRecord(*content, 12);
  EXPECT_EQ(end[3], 3);
  EXPECT_EQ(end[12], 300 & 0xFF);
  EXPECT_EQ(end[13], 300 >> 8);
  EXPECT_EQ(end[14], 2);
  EXPECT_EQ(OnlyRecord(*content, 16)[2], 5);
}

TEST(SignatureSource, VersionDateAndNames) {
  auto content = Parse(
      "version 7\ndate 9/2001\nnames 900\n"
      "name 1 \"EICAR-Test-File\"  # a comment\n"
      "name 2 \"with \\\"quotes\\\" and \\x01\"\n");
  ASSERT_TRUE(content.ok()) << content.message();
  EXPECT_EQ(content->version, 7);
  EXPECT_EQ(content->month, 9);
  EXPECT_EQ(content->year, 2001);
  EXPECT_EQ(content->name_records, 900u);
  EXPECT_EQ(content->names.at(1), "EICAR-Test-File");
  EXPECT_EQ(content->names.at(2), "with \"quotes\" and \x01");
}

TEST(SignatureSource, RawSectionsTakeTheirSizeFromTheirRecords) {
  auto content = Parse("raw-17 bytes=010203\nraw-17 bytes=\"abc\"\n");
  ASSERT_TRUE(content.ok()) << content.message();
  EXPECT_EQ(content->sections[17].record_size, 3);
  EXPECT_EQ(content->sections[17].records.size(), 2u);
  auto mixed = Parse("raw-17 bytes=010203\nraw-17 bytes=01\n");
  ASSERT_FALSE(mixed.ok());
  EXPECT_EQ(mixed.message(), "test.qsig:2: a record of 1 bytes in a section of 3-byte records");
}

TEST(SignatureSource, SeveralFilesMakeOneDatabase) {
  auto content = ParseSignatureSource({{"a.qsig", "version 1\nname 1 \"One\"\nmacro-clean id=1\n"},
                                       {"b.qsig", "name 2 \"Two\"\nmacro-clean id=2\n"}});
  ASSERT_TRUE(content.ok()) << content.message();
  EXPECT_EQ(content->sections[26].records.size(), 2u);
  EXPECT_EQ(content->names.size(), 2u);
  auto twice =
      ParseSignatureSource({{"a.qsig", "name 1 \"One\"\n"}, {"b.qsig", "\nname 1 \"Uno\"\n"}});
  ASSERT_FALSE(twice.ok());
  EXPECT_EQ(twice.message(), "b.qsig:2: VirusId 1 is named twice (first at a.qsig:1)");
}

// Each malformed line is reported with the file, the line and the cause.
TEST(SignatureSource, ErrorsNameFileLineAndCause) {
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"bogus 1", "test.qsig:1: unknown statement 'bogus'"},
      {"\ncom-entry cod=00",
       "test.qsig:2: unknown field 'cod' for com-entry (fields: code, id, "
       "confirm-offset, confirm, code-offset)"},
      {"com-entry id=65536", "test.qsig:1: com-entry id 65536 is larger than 65535"},
      {"com-entry id=12x", "test.qsig:1: com-entry id must be a number, not '12x'"},
      {"com-entry code=123", "test.qsig:1: com-entry code: an odd number of hex digits in '123'"},
      {"com-entry code=0102030405060708090A",
       "test.qsig:1: com-entry code holds 10 bytes; at most 8 fit"},
      {"com-entry id=1 id=2", "test.qsig:1: field 'id' given twice"},
      {"com-entry 1", "test.qsig:1: expected field=value after com-entry, not '1'"},
      {"name 0 \"x\"", "test.qsig:1: VirusId 0 means \"nothing found\" and has no name"},
      {"name 3 \"12345678901234567890123456789\"",
       "test.qsig:1: the name \"12345678901234567890123456789\" is longer than 28 bytes"},
      {"name 3 x", "test.qsig:1: the name must be quoted text"},
      {"name 3 \"open", "test.qsig:1: unterminated quoted text"},
      {"name 3 \"a\\q\"", "test.qsig:1: unknown escape '\\q' (use \\\\, \\\" or \\xNN)"},
      {"version 1\nversion 2", "test.qsig:2: version given twice (first at test.qsig:1)"},
      {"date 2001", "test.qsig:1: expected the date as MONTH/YEAR, not '2001'"},
      {"version 256", "test.qsig:1: version 256 is larger than 255"},
      {"raw-5", "test.qsig:1: raw-5 needs bytes="},
  };
  for (const Case& c : cases) {
    auto content = Parse(c.text);
    ASSERT_FALSE(content.ok()) << c.text;
    EXPECT_EQ(content.message(), c.message) << c.text;
  }
}

TEST(SignatureSource, FormatThenParseGivesTheSameContent) {
  auto content = Parse(
      "version 3\ndate 12/2026\nnames 50\nname 1 \"A\\\\B\"\nname 9 \"\\xFF\\x80\"\n"
      "memory-name id=5 name=\"Mem\"\nmemory-pattern pattern=FA00 id=5 upper=1 confirm=65535\n"
      "exe-crypt-clean id=3 scheme=9 params=0100000000000001\n"
      "com-entry code=\"#comment\" id=1\nraw-31 bytes=000000\n");
  ASSERT_TRUE(content.ok()) << content.message();
  auto again = Parse(FormatSignatureSource(*content), "dump.qsig");
  ASSERT_TRUE(again.ok()) << again.message();
  for (int section = 0; section < kSectionCount; ++section) {
    EXPECT_EQ(again->sections[section].records, content->sections[section].records) << section;
  }
  EXPECT_EQ(again->names, content->names);
  EXPECT_EQ(again->name_records, 50u);
  EXPECT_EQ(again->year, 2026);
}

TEST(RecordFormats, AgreeWithTheReadersAndStayInsideTheirRecords) {
  for (const RecordFormat& format : AllRecordFormats()) {
    EXPECT_EQ(format.size, ReaderRecordSize(format.section)) << format.keyword;
    EXPECT_EQ(FindRecordFormat(format.keyword), &format);
    if (format.size == 0) continue;
    std::vector<int> owner(format.size, -1);
    int index = 0;
    for (const FieldFormat& field : format.fields) {
      ASSERT_LE(field.offset + field.width, format.size) << format.keyword << " " << field.name;
      for (int i = field.offset; i < field.offset + field.width; ++i) {
        EXPECT_EQ(owner[i], -1) << format.keyword << ": " << field.name << " overlaps";
        owner[i] = index;
      }
      ++index;
    }
    for (int i = 0; i < format.size; ++i) {
      EXPECT_NE(owner[i], -1) << format.keyword << ": byte " << i << " cannot be written";
    }
  }
}

}  // namespace
}  // namespace quarn
