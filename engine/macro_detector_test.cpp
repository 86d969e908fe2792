#include "engine/macro_detector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "engine/test_support/compound_file_writer.h"
#include "platform/byte_reader.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/open_bytes.h"

namespace quarn {
namespace {

using testing::CompoundFileWriter;
using testing::WordDocumentStream;

constexpr uint16_t kMacroDirectory = DirectoryOffset(kMacroSection);

std::vector<uint8_t> TextBytes(const std::string& text) {
  return {text.begin(), text.end()};
}

std::vector<uint8_t> MacroRecord(uint16_t id, uint16_t first_offset, const std::string& first,
                                 uint16_t second_offset, const std::string& second) {
  std::vector<uint8_t> record(18, 0);
  WriteU16(&record[0], id);
  WriteU16(&record[2], first_offset);
  std::copy(first.begin(), first.end(), record.begin() + 4);
  WriteU16(&record[12], second_offset);
  std::copy(second.begin(), second.end(), record.begin() + 14);
  return record;
}

// A macro text with "AUTOOPEN" at 10 and "KILL" at 100.
std::vector<uint8_t> InfectedText() {
  std::vector<uint8_t> text(300, 'x');
  std::string first = "AUTOOPEN", second = "KILL";
  std::copy(first.begin(), first.end(), text.begin() + 10);
  std::copy(second.begin(), second.end(), text.begin() + 100);
  return text;
}

class MacroDetectorTest : public ::testing::Test {
 protected:
  MacroDetectorTest() {
    DatabaseContent content;
    content.sections[kMacroSection].records = {
        MacroRecord(7, 10, "AUTOOPEN", 100, "KILL"),
        MacroRecord(8, 0, "NOTHERE!", 0, "NONE"),
    };
    signatures_ = DatabaseImage(*BuildSignatureImage(content));
  }

  uint32_t Detect(const std::vector<uint8_t>& file_bytes) {
    DetectorState state;
    return DetectWordMacroVirus(signatures_, *testing::OpenBytes(files_, file_bytes), &flag_,
                                kMacroDirectory, state);
  }

  static std::vector<uint8_t> Document(const std::vector<uint8_t>& stream,
                                       uint32_t scatter_seed = 0) {
    CompoundFileWriter writer;
    writer.AddStream("WordDocument", stream);
    if (scatter_seed != 0) writer.ScatterSectors(scatter_seed);
    return writer.Build();
  }

  DatabaseImage signatures_;
  MemoryFileSystem files_;
  uint16_t flag_ = 9;  // a value no detector writes, to see it left untouched
};

TEST_F(MacroDetectorTest, ExactAndPartialMatches) {
  EXPECT_EQ(Detect(Document(WordDocumentStream().AddMacro(InfectedText(), 0).Build())), 7u);
  EXPECT_EQ(flag_, 0);

  std::vector<uint8_t> variant = InfectedText();
  variant[101] = 'X';  // the second pattern differs
  flag_ = 9;
  EXPECT_EQ(Detect(Document(WordDocumentStream().AddMacro(variant, 0).Build())), 7u);
  EXPECT_EQ(flag_, 1);
}

TEST_F(MacroDetectorTest, CleanDocumentsLeaveTheFlagAlone) {
  EXPECT_EQ(Detect(Document(WordDocumentStream().AddMacro(TextBytes("Sub Main"), 0).Build())), 0u);
  EXPECT_EQ(Detect(std::vector<uint8_t>(2048, 0)), 0u);  // not D0 CF
  EXPECT_EQ(Detect({}), 0u);
  CompoundFileWriter other;
  other.AddStream("Book", WordDocumentStream().AddMacro(InfectedText(), 0).Build());
  EXPECT_EQ(Detect(other.Build()), 0u);  // no WordDocument stream
  EXPECT_EQ(flag_, 9);
}

TEST_F(MacroDetectorTest, FibAndCommandTableChecks) {
  EXPECT_EQ(Detect(Document(WordDocumentStream().FibId(0x99).AddMacro(InfectedText(), 0).Build())),
            7u);
  EXPECT_EQ(Detect(Document(WordDocumentStream().FibId(0xA5).AddMacro(InfectedText(), 0).Build())),
            0u);
  WordDocumentStream word;
  word.AddMacro(InfectedText(), 0);
  std::vector<uint8_t> stream = word.Build();
  stream[0x200] = 0xFE;  // the command table's mark
  EXPECT_EQ(Detect(Document(stream)), 0u);
}

TEST_F(MacroDetectorTest, EntriesWithoutTheMarkAreSkipped) {
  WordDocumentStream word;
  word.AddMacro(InfectedText(), 0).AddMacro(InfectedText(), 0);
  std::vector<uint8_t> stream = word.Build();
  stream[word.MacroEntryOffset(0)] = 0x54;
  EXPECT_EQ(Detect(Document(stream)), 7u);  // found through the second entry
  stream[word.MacroEntryOffset(1)] = 0x54;
  EXPECT_EQ(Detect(Document(stream)), 0u);
}

// A macro text 500 bytes into a sector: the window holds 12 bytes from it and 500 from its
// successor, which the allocation table names (sectors are scattered, not consecutive).
TEST_F(MacroDetectorTest, TextWindowCrossesIntoTheSuccessorSector) {
  WordDocumentStream word;
  word.AddMacro(TextBytes("placeholder"), 0);
  std::vector<uint8_t> stream = word.Build();
  const uint32_t text_at = 3 * 512 + 500;
  stream.resize(text_at + 600, 'y');
  std::vector<uint8_t> text = InfectedText();
  std::copy(text.begin(), text.end(), stream.begin() + text_at);
  WriteU32(&stream[word.MacroEntryOffset(0) + 20], text_at);
  for (uint32_t seed : {1u, 2u, 3u}) {
    flag_ = 9;
    EXPECT_EQ(Detect(Document(stream, seed)), 7u) << "seed " << seed;
    EXPECT_EQ(flag_, 0);
  }
}

// Blocks of types 2, 3 and 5 are stepped over as 4, 14 and 3 bytes an entry.
TEST_F(MacroDetectorTest, OtherBlocksAreSteppedOver) {
  WordDocumentStream word;
  word.AddMacro(InfectedText(), 0);
  std::vector<uint8_t> stream = word.Build();
  std::vector<uint8_t> table(stream.begin() + 0x200, stream.begin() + 0x200 + 1 + 3 + 24);
  std::vector<uint8_t> blocks = {0xFF, 2, 2, 0};  // type 2, two entries
  blocks.insert(blocks.end(), 8, 0xAA);
  blocks.insert(blocks.end(), {3, 1, 0});  // type 3, one entry
  blocks.insert(blocks.end(), 14, 0xBB);
  blocks.insert(blocks.end(), {5, 2, 0});  // type 5, two entries
  blocks.insert(blocks.end(), 6, 0xCC);
  blocks.insert(blocks.end(), table.begin() + 1, table.end());  // the macro block
  // The new table goes after the macro text, and the FIB points at it.
  std::vector<uint8_t> rebuilt = stream;
  rebuilt.resize(0x600 + blocks.size());
  std::copy(blocks.begin(), blocks.end(), rebuilt.begin() + 0x600);
  WriteU32(&rebuilt[0x118], 0x600);
  EXPECT_EQ(Detect(Document(rebuilt)), 7u);

  blocks[4 + 8] = 4;  // a type that ends the walk, in place of the type 3 block
  std::copy(blocks.begin(), blocks.end(), rebuilt.begin() + 0x600);
  EXPECT_EQ(Detect(Document(rebuilt)), 0u);
}

TEST_F(MacroDetectorTest, HostileAllocationTablesEndTheDetector) {
  WordDocumentStream word;
  word.AddMacro(InfectedText(), 0);
  std::vector<uint8_t> stream = word.Build();
  WriteU32(&stream[word.MacroEntryOffset(0) + 20], 0xFFFFFF00u);  // far beyond the stream
  EXPECT_EQ(Detect(Document(stream)), 0u);

  // An allocation table that points every stream sector at itself: the chain never ends.
  CompoundFileWriter writer;
  writer.AddStream("WordDocument", word.Build());
  std::vector<uint8_t> looped = writer.Build();
  for (uint32_t sector : writer.SectorsOf("WordDocument")) {
    WriteU32(&looped[writer.FatEntryOffset(sector)], sector);
  }
  EXPECT_EQ(Detect(looped), 0u);

  // A stream that starts at a sector whose allocation table lies beyond the header's list,
  // and one that starts past the end of the file.
  for (uint32_t start : {109u * 128u, 0xFFFFFFFEu, 5000u}) {
    std::vector<uint8_t> moved = writer.Build();
    WriteU32(&moved[*writer.DirectoryEntryOffset("WordDocument") + 0x74], start);
    EXPECT_EQ(Detect(moved), 0u) << start;
  }
  EXPECT_EQ(flag_, 9);
}

TEST_F(MacroDetectorTest, TruncatedDocumentsFindWhatTheyHold) {
  std::vector<uint8_t> document =
      Document(WordDocumentStream().AddMacro(InfectedText(), 0).Build());
  for (size_t size = 0; size < document.size(); size += 97) {
    std::vector<uint8_t> cut(document.begin(), document.begin() + size);
    uint32_t found = Detect(cut);
    EXPECT_TRUE(found == 0 || found == 7) << size;
  }
}

}  // namespace
}  // namespace quarn
