#include "clean/macro_cleaner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/test_support/compound_file_writer.h"
#include "engine/test_support/recording_interface.h"
#include "platform/byte_reader.h"
#include "platform/test_support/memory_file_system.h"

namespace quarn {
namespace {

using testing::CompoundFileWriter;
using testing::WordDocumentStream;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kFillerHead[] = {0x01, 0x00, 0x64, 0x1B, 0x69, 0x04, 0x4D,
                                   0x41, 0x49, 0x4E, 0x64, 0x1A, 0x1B, 0x64};
constexpr size_t kSector = 512;
constexpr size_t kEntryLength = WordDocumentStream::kMacroLengthOffset;
constexpr size_t kEntryText = WordDocumentStream::kMacroTextOffsetOffset;

Bytes MacroText(size_t length) {
  Bytes text(length);
  for (size_t i = 0; i < length; ++i) text[i] = static_cast<uint8_t>('A' + i % 26);
  return text;
}

// What a clean makes of `length` stream bytes from `offset`: filler pieces that restart at
// every sector boundary of the stream, enciphered with `key`.
void FillLikeAClean(Bytes* stream, size_t offset, size_t length, uint8_t key) {
  for (size_t at = offset; at < offset + length; ++at) {
    size_t i = at - std::max(offset, at / kSector * kSector);
    (*stream)[at] = static_cast<uint8_t>((i < sizeof kFillerHead ? kFillerHead[i] : 0x64) ^ key);
  }
}

struct Document {
  CompoundFileWriter writer;
  Bytes bytes;

  size_t FileOffset(size_t stream_offset) const {
    return CompoundFileWriter::SectorOffset(
               writer.SectorsOf("WordDocument")[stream_offset / kSector]) +
           stream_offset % kSector;
  }
};

Document MakeDocument(const Bytes& stream, uint32_t seed = 0) {
  Document document;
  document.writer.AddStream("WordDocument", stream);
  if (seed != 0) document.writer.ScatterSectors(seed);
  document.bytes = document.writer.Build();
  return document;
}

// A stream with its table at 0x400: `groups` after the mark, then a macro group of one
// 100-byte text at 0xC00.
Bytes TableStream(const Bytes& groups) {
  Bytes stream(0xC00 + 100, 0);
  stream[0] = 0xDC;
  WriteU32(&stream[WordDocumentStream::kCommandTablePointerOffset], 0x400);
  Bytes table = {0xFF};
  table.insert(table.end(), groups.begin(), groups.end());
  table.insert(table.end(), {1, 1, 0, 0x55});
  table.resize(table.size() + 23, 0);
  WriteU16(&table[table.size() - 24 + kEntryLength], 100);
  WriteU32(&table[table.size() - 24 + kEntryText], 0xC00);
  std::copy(table.begin(), table.end(), stream.begin() + 0x400);
  Bytes text = MacroText(100);
  std::copy(text.begin(), text.end(), stream.begin() + 0xC00);
  return stream;
}

class MacroCleanerTest : public ::testing::Test {
 protected:
  uint32_t Clean(const Bytes& bytes) {
    files_.AddFile("/copy.doc", bytes);
    auto folder = files_.OpenFolder("/");
    auto file = (*folder)->OpenFile("copy.doc", OpenMode::kReadWrite);
    CleaningContext context;
    context.ui = &ui_;
    return CleanWordMacros(context, CleanRecord{}, **file);
  }
  Bytes Result() const { return *files_.ReadFileBytes("/copy.doc"); }

  MemoryFileSystem files_;
  testing::RecordingInterface ui_;
};

struct MacroRoundTrip {
  uint32_t into_sector;  // where the first text starts in its sector
  size_t length;
  uint8_t key;
  uint32_t seed;
  uint16_t flags;
};

// Texts from a sector's first or last byte, across up to four sectors of a scattered chain,
// with and without a key; the word at 10 from 0 (stays), 1 and more.
TEST_F(MacroCleanerTest, RoundTripsGiveTheDocumentWithFillerAndTheWordDecremented) {
  for (const MacroRoundTrip& trip :
       {MacroRoundTrip{400, 700, 0, 7, 1}, MacroRoundTrip{10, 60, 0x20, 0, 3},
        MacroRoundTrip{0, 512, 0x5A, 11, 0}, MacroRoundTrip{511, 2, 0, 3, 0x100},
        MacroRoundTrip{300, 1500, 0x99, 5, 2}}) {
    SCOPED_TRACE(std::to_string(trip.into_sector) + "/" + std::to_string(trip.length));
    // Two macros whose texts follow the table; the table's offset puts the first where wanted.
    WordDocumentStream word;
    word.CommandTableAt(3 * kSector + trip.into_sector - 52).FibFlags(trip.flags);
    word.AddMacro(MacroText(trip.length), trip.key).AddMacro(MacroText(90), 0x11);
    Bytes stream = word.Build();
    ASSERT_EQ(word.MacroTextOffset(0), 3 * kSector + trip.into_sector);
    Bytes expected = stream;
    FillLikeAClean(&expected, word.MacroTextOffset(0), trip.length, trip.key);
    FillLikeAClean(&expected, word.MacroTextOffset(1), 90, 0x11);
    WriteU16(&expected[10], trip.flags == 0 ? 0 : trip.flags - 1);

    ASSERT_EQ(Clean(MakeDocument(stream, trip.seed).bytes), 1u);
    EXPECT_EQ(Result(), MakeDocument(expected, trip.seed).bytes);
    EXPECT_TRUE(ui_.messages.empty());
  }
}

TEST_F(MacroCleanerTest, UnmarkedEntryStopsAfterTheEntriesBeforeIt) {
  WordDocumentStream word;
  word.FibFlags(1).AddMacro(MacroText(50), 0).AddMacro(MacroText(50), 0).AddMacro(MacroText(50), 0);
  Bytes stream = word.Build();
  stream[word.MacroEntryOffset(1)] = 0x54;
  Document document = MakeDocument(stream, 4);
  EXPECT_EQ(Clean(document.bytes), 0u);

  Bytes expected = stream;
  FillLikeAClean(&expected, word.MacroTextOffset(0), 50, 0);
  EXPECT_EQ(Result(), MakeDocument(expected, 4).bytes);  // word at 10 still 1
  EXPECT_TRUE(ui_.messages.empty());
}

// Groups of types 2, 3 and 5 are stepped over as 4, 14 and 3 bytes an entry.
TEST_F(MacroCleanerTest, OtherGroupsAreSteppedOver) {
  Bytes groups = {2, 2, 0};
  groups.insert(groups.end(), 8, 0xAA);
  groups.insert(groups.end(), {3, 1, 0});
  groups.insert(groups.end(), 14, 0xBB);
  groups.insert(groups.end(), {5, 2, 0});
  groups.insert(groups.end(), 6, 0xCC);
  Bytes stream = TableStream(groups);
  Bytes expected = stream;
  FillLikeAClean(&expected, 0xC00, 100, 0);
  ASSERT_EQ(Clean(MakeDocument(stream).bytes), 1u);
  EXPECT_EQ(Result(), MakeDocument(expected).bytes);
}

// Entries are taken only as far as 512 bytes from the table's mark: a macro group 486 bytes
// after the mark holds one entry whatever its count says, and one 513 bytes after it none.
TEST_F(MacroCleanerTest, MacroGroupReachCapsTheCount) {
  Bytes groups = {3, 34, 0};
  groups.resize(3 + 34 * 14, 0);                       // 479 bytes
  groups.insert(groups.end(), {2, 1, 0, 0, 0, 0, 0});  // 486
  Bytes stream = TableStream(groups);
  WriteU16(&stream[0x400 + 1 + 486 + 1], 2);  // the second entry is all zeros
  EXPECT_EQ(Clean(MakeDocument(stream).bytes), 1u);

  groups.insert(groups.end(), {2, 6, 0});
  groups.resize(groups.size() + 24, 0);  // 513
  EXPECT_EQ(Clean(MakeDocument(TableStream(groups)).bytes), 0u);
}

TEST_F(MacroCleanerTest, DeclinesWithoutWriting) {
  WordDocumentStream word;
  word.FibFlags(1).AddMacro(MacroText(80), 0);
  const Bytes stream = word.Build();
  auto patched = [&](size_t offset, std::initializer_list<uint8_t> bytes) {
    Bytes changed = stream;
    std::copy(bytes.begin(), bytes.end(), changed.begin() + offset);
    return MakeDocument(changed).bytes;
  };
  const size_t entry = word.MacroEntryOffset(0);
  Bytes not_compound = MakeDocument(stream).bytes;
  not_compound[1] = 0xCE;

  // As the fourth stream "WordDocument" has its entry in the second directory sector.
  CompoundFileWriter late, early;
  for (const char* name : {"A", "B", "C"}) late.AddStream(name, MacroText(10));
  late.AddStream("WordDocument", stream);
  early.AddStream("WordDocument", stream);
  for (const char* name : {"A", "B", "C"}) early.AddStream(name, MacroText(10));
  ASSERT_EQ(Clean(early.Build()), 1u);  // the stream itself is fine

  Document looped = MakeDocument(stream);
  const uint32_t first = looped.writer.SectorsOf("WordDocument")[0];
  WriteU32(&looped.bytes[looped.writer.FatEntryOffset(first)], first);
  Document no_fat = MakeDocument(stream);
  WriteU32(&no_fat.bytes[CompoundFileWriter::kHeaderFatListOffset], 0x7FFF);

  const std::vector<std::pair<std::string, Bytes>> cases = {
      {"not a compound file", not_compound},
      {"stream outside the first directory sector", late.Build()},
      {"foreign FIB", patched(0, {0xA5})},
      {"table without its mark", patched(0x200, {0xFE})},
      {"group of an unknown type", patched(0x201, {4})},
      {"no macros", patched(0x202, {0, 0})},
      {"table in the FIB sector", patched(0x118, {0x00, 0x01, 0, 0})},
      {"text in the FIB sector", patched(entry + kEntryText, {0xFF, 0x01, 0, 0})},
      {"text of no bytes", patched(entry + kEntryLength, {0, 0})},
      {"group running off the buffer", patched(0x201, {2, 0xFF, 0xFF})},
      {"stream sector pointing at itself", looped.bytes},
      {"allocation table past the end", no_fat.bytes},
      {"empty file", {}},
  };
  for (const auto& [name, bytes] : cases) {
    EXPECT_EQ(Clean(bytes), 0u) << name;
    EXPECT_EQ(Result(), bytes) << name;
  }
  EXPECT_TRUE(ui_.messages.empty());
}

// Chains that end, loop or leave the file stop the clean; the file keeps its length and the
// word at 10 its value.
TEST_F(MacroCleanerTest, BrokenChainsStopTheClean) {
  WordDocumentStream word;
  word.FibFlags(1).AddMacro(MacroText(900), 0);  // text from 0x21C to 0x5A0: sectors 1 and 2
  const Bytes stream = word.Build();
  Bytes too_long = stream;
  WriteU16(&too_long[word.MacroEntryOffset(0) + kEntryLength], 5000);

  std::vector<Document> documents = {MakeDocument(too_long, 9), MakeDocument(stream, 9),
                                     MakeDocument(stream, 9), MakeDocument(stream)};
  Document& loop = documents[1];
  const uint32_t second = loop.writer.SectorsOf("WordDocument")[1];
  WriteU32(&loop.bytes[loop.writer.FatEntryOffset(second)], second);
  Document& out_of_file = documents[2];
  WriteU32(&out_of_file.bytes[out_of_file.writer.FatEntryOffset(second)], 5000);
  Document& cut = documents[3];
  cut.bytes.resize(cut.bytes.size() - 100);  // the file ends inside the text

  for (const Document& document : documents) {
    EXPECT_EQ(Clean(document.bytes), 0u);
    EXPECT_EQ(Result().size(), document.bytes.size());
    EXPECT_EQ(ReadU16(Result(), document.FileOffset(10)), 1);
  }
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(MacroCleanerTest, EveryFailedWriteShowsTheMessageOnce) {
  WordDocumentStream word;
  word.FibFlags(1).AddMacro(MacroText(700), 0);  // two pieces, then the first sector
  const Document document = MakeDocument(word.Build(), 2);
  for (int nth : {1, 2, 3}) {
    ui_.messages.clear();
    files_.FailCall(FileOperation::kWrite, nth);
    EXPECT_EQ(Clean(document.bytes), 0u) << nth;
    EXPECT_EQ(ui_.messages, std::vector<std::string>{"Errore: Errore di Scrittura"}) << nth;
    EXPECT_EQ(ReadU16(Result(), document.FileOffset(10)), 1);
    files_.ClearFaults();
  }
  files_.SetShortWrites(100);
  ui_.messages.clear();
  EXPECT_EQ(Clean(document.bytes), 0u);
  EXPECT_EQ(ui_.messages.size(), 1u);
}

// Bytes changed at random, mostly in the fields the method follows (header, allocation
// table, directory entry, FIB, command table): whatever the method answers, the file keeps
// its length and nothing reads outside a buffer.
TEST_F(MacroCleanerTest, HostileDocumentsNeverGrowTheFile) {
  WordDocumentStream word;
  word.FibFlags(3).AddMacro(MacroText(600), 7).AddMacro(MacroText(300), 0);
  const Document document = MakeDocument(word.Build(), 13);
  std::vector<size_t> fields;
  auto add_field = [&](size_t at, size_t length) {
    for (size_t i = 0; i < length; ++i) fields.push_back(at + i);
  };
  add_field(CompoundFileWriter::kFirstDirectorySectorOffset, 4);
  add_field(CompoundFileWriter::kHeaderFatListOffset, 4);
  for (uint32_t sector : document.writer.SectorsOf("WordDocument")) {
    add_field(document.writer.FatEntryOffset(sector), 4);
  }
  add_field(*document.writer.DirectoryEntryOffset("WordDocument") + 0x74, 4);
  add_field(document.FileOffset(0), 1);
  add_field(document.FileOffset(WordDocumentStream::kCommandTablePointerOffset), 4);
  for (size_t at = 0x200; at < word.MacroEntryOffset(2); ++at)
    add_field(document.FileOffset(at), 1);

  std::mt19937 random(1234);
  int cleaned = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes bytes = document.bytes;
    bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
    for (int i = 0; i < 2; ++i) {
      const uint8_t values[] = {0x00, 0x01, 0x02, 0x7F, 0xFE, 0xFF, static_cast<uint8_t>(random())};
      bytes[fields[random() % fields.size()]] = values[random() % std::size(values)];
    }
    cleaned += Clean(bytes);
    ASSERT_EQ(Result().size(), bytes.size()) << round;
  }
  EXPECT_GT(cleaned, 0);
  EXPECT_TRUE(ui_.messages.empty());
}

}  // namespace
}  // namespace quarn
