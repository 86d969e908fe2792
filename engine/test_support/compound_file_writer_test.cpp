#include "engine/test_support/compound_file_writer.h"

#include <gtest/gtest.h>

#include "platform/test_support/test_bytes.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quarn::testing {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kEnd = 0xFFFFFFFE;
constexpr uint32_t kNone = 0xFFFFFFFF;

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
  return bytes;
}

struct Entry {
  std::string name;
  uint8_t type = 0;
  uint32_t left = kNone, right = kNone, child = kNone;
  uint32_t start = 0;
  uint32_t size = 0;
};

// A reader that trusts nothing the writer could tell it other than the file's bytes: the
// header's FAT-sector list, the FAT, then the directory, as a scanner would walk them.
struct ParsedFile {
  std::vector<uint32_t> fat;
  std::vector<Entry> entries;
  std::map<std::string, Bytes> streams;
  std::map<std::string, std::vector<uint32_t>> chains;
  std::set<std::string> short_streams;  // chains holding fewer bytes than the entry's size
};

Bytes SectorBytes(const Bytes& file, uint32_t sector) {
  size_t offset = (size_t{sector} + 1) * 512;
  EXPECT_LE(offset + 512, file.size()) << "sector " << sector;
  if (offset + 512 > file.size()) return Bytes(512, 0);
  return Bytes(file.begin() + offset, file.begin() + offset + 512);
}

std::vector<uint32_t> Chain(const std::vector<uint32_t>& fat, uint32_t start) {
  std::vector<uint32_t> chain;
  for (uint32_t sector = start; sector != kEnd; sector = fat[sector]) {
    EXPECT_LT(sector, fat.size()) << "chain leaves the FAT";
    if (sector >= fat.size() || chain.size() > fat.size()) return chain;
    chain.push_back(sector);
  }
  return chain;
}

ParsedFile Parse(const Bytes& file) {
  ParsedFile parsed;
  EXPECT_EQ(CheckedU32(file, 0), 0xE011CFD0u);
  EXPECT_EQ(CheckedU32(file, 4), 0xE11AB1A1u);
  EXPECT_EQ(CheckedU16(file, 0x1E), 9);
  EXPECT_EQ(CheckedU32(file, 0x38), 0x1000u);  // no stream is in a mini stream
  EXPECT_EQ(CheckedU32(file, 0x44), kEnd);     // no DIFAT
  uint32_t fat_sector_count = CheckedU32(file, 0x2C);
  EXPECT_LE(fat_sector_count, 109u);
  for (uint32_t i = 0; i < fat_sector_count && i < 109; ++i) {
    Bytes sector = SectorBytes(file, CheckedU32(file, 0x4C + i * 4));
    for (size_t j = 0; j < 512; j += 4) parsed.fat.push_back(CheckedU32(sector, j));
  }
  Bytes directory;
  for (uint32_t sector : Chain(parsed.fat, CheckedU32(file, 0x30))) {
    Bytes bytes = SectorBytes(file, sector);
    directory.insert(directory.end(), bytes.begin(), bytes.end());
  }
  for (size_t base = 0; base + 128 <= directory.size(); base += 128) {
    Entry entry;
    uint16_t name_bytes = CheckedU16(directory, base + 0x40);
    for (size_t i = 0; i + 2 < name_bytes && i < 62; i += 2) {
      entry.name.push_back(static_cast<char>(CheckedU16(directory, base + i)));
    }
    entry.type = directory[base + 0x42];
    entry.left = CheckedU32(directory, base + 0x44);
    entry.right = CheckedU32(directory, base + 0x48);
    entry.child = CheckedU32(directory, base + 0x4C);
    entry.start = CheckedU32(directory, base + 0x74);
    entry.size = CheckedU32(directory, base + 0x78);
    parsed.entries.push_back(entry);
  }
  for (const Entry& entry : parsed.entries) {
    if (entry.type != 2) continue;
    std::vector<uint32_t> chain = Chain(parsed.fat, entry.start);
    Bytes bytes;
    for (uint32_t sector : chain) {
      Bytes data = SectorBytes(file, sector);
      bytes.insert(bytes.end(), data.begin(), data.end());
    }
    if (bytes.size() < entry.size) parsed.short_streams.insert(entry.name);
    bytes.resize(std::min<size_t>(bytes.size(), entry.size));
    parsed.streams[entry.name] = bytes;
    parsed.chains[entry.name] = chain;
  }
  return parsed;
}

// Names reachable from the root through child and sibling links, as a storage walk finds.
std::set<std::string> ReachableNames(const ParsedFile& parsed) {
  std::set<std::string> names;
  std::vector<uint32_t> pending;
  if (!parsed.entries.empty()) pending.push_back(parsed.entries[0].child);
  while (!pending.empty() && names.size() <= parsed.entries.size()) {
    uint32_t id = pending.back();
    pending.pop_back();
    if (id == kNone) continue;
    EXPECT_LT(id, parsed.entries.size());
    if (id >= parsed.entries.size()) continue;
    names.insert(parsed.entries[id].name);
    pending.push_back(parsed.entries[id].left);
    pending.push_back(parsed.entries[id].right);
  }
  return names;
}

// The accessors must name exactly what Build() wrote: the tests that corrupt a file through
// them would otherwise damage some other byte and still see "nothing found".
TEST(CompoundFileWriter, StreamsAndAccessorsDescribeWhatIsWritten) {
  CompoundFileWriter writer;
  const Bytes big = Pattern(512 * 3 + 17, 9);
  writer.AddStream("WordDocument", {0x42}).AddStream("Empty", {}).AddStream("Big", big);
  Bytes file = writer.Build();
  ParsedFile parsed = Parse(file);
  EXPECT_EQ(ReachableNames(parsed), (std::set<std::string>{"WordDocument", "Empty", "Big"}));
  EXPECT_EQ(parsed.streams["WordDocument"], Bytes{0x42});
  EXPECT_EQ(parsed.streams["Big"], big);
  EXPECT_EQ(parsed.chains["Big"].size(), 4u);
  EXPECT_EQ(parsed.chains["Big"], writer.SectorsOf("Big"));
  EXPECT_EQ(parsed.chains["WordDocument"], writer.SectorsOf("WordDocument"));
  EXPECT_TRUE(parsed.streams["Empty"].empty());
  EXPECT_TRUE(writer.SectorsOf("Empty").empty());
  EXPECT_TRUE(writer.SectorsOf("Missing").empty());

  std::optional<size_t> entry = writer.DirectoryEntryOffset("WordDocument");
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(CheckedU16(file, *entry + 0x40), 26) << "12 characters and a NUL, in UTF-16";
  EXPECT_EQ(CheckedU16(file, *entry + 22), 't');
  EXPECT_EQ(CheckedU32(file, *entry + 0x74), writer.SectorsOf("WordDocument")[0]);
  EXPECT_FALSE(writer.DirectoryEntryOffset("Missing").has_value());

  // Cut Big's chain after its first sector: the reader now finds one sector.
  size_t fat_entry = writer.FatEntryOffset(parsed.chains["Big"][0]);
  EXPECT_EQ(CheckedU32(file, fat_entry), parsed.chains["Big"][1]);
  PutBytes(file, fat_entry, {0xFE, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(Parse(file).short_streams, std::set<std::string>{"Big"});
}

TEST(CompoundFileWriter, ManyStreamsSpanDirectorySectorsAndStayReachable) {
  CompoundFileWriter writer;
  std::set<std::string> names;
  for (int i = 0; i < 9; ++i) {
    std::string name = "S" + std::to_string(i * 37);
    names.insert(name);
    writer.AddStream(name, Pattern(100 + i, static_cast<uint8_t>(i)));
  }
  writer.ScatterSectors(7);
  ParsedFile parsed = Parse(writer.Build());
  EXPECT_EQ(writer.DirectorySectors().size(), 3u);  // 10 entries at 4 a sector
  EXPECT_EQ(ReachableNames(parsed), names);
  EXPECT_EQ(parsed.streams["S74"], Pattern(102, 2));
}

// Scattering is what makes a reader follow the FAT; were it to leave chains in file order,
// every scattered test would pass for a reader that ignores the FAT.
TEST(CompoundFileWriter, ScatteredStreamsAreRecoveredOnlyThroughTheFat) {
  Bytes first = Pattern(512 * 5 + 100, 3);
  Bytes second = Pattern(512 * 4, 200);
  auto build = [&](uint32_t seed) {
    return CompoundFileWriter()
        .AddStream("First", first)
        .AddStream("Second", second)
        .ScatterSectors(seed);
  };
  EXPECT_EQ(build(5).Build(), build(5).Build());
  EXPECT_NE(build(5).Build(), build(6).Build());
  for (uint32_t seed : {1u, 2u, 99u}) {
    SCOPED_TRACE(seed);
    CompoundFileWriter writer = build(seed);
    ParsedFile parsed = Parse(writer.Build());
    EXPECT_EQ(parsed.streams["First"], first);
    EXPECT_EQ(parsed.streams["Second"], second);
    EXPECT_EQ(parsed.chains["First"], writer.SectorsOf("First"));
    for (const auto& [name, chain] : parsed.chains) {
      for (size_t i = 1; i < chain.size(); ++i) EXPECT_NE(chain[i], chain[i - 1] + 1) << name;
    }
  }
}

// The FAT must also cover its own sectors, so the second one is needed one stream sector
// before the data alone fills 128 entries.
TEST(CompoundFileWriter, FatSectorCountCountsTheFatItself) {
  struct Case {
    size_t stream_sectors;  // the directory adds one more
    uint32_t fat_sectors;
    bool scatter;
  };
  for (const Case& c :
       {Case{126, 1, false}, Case{127, 2, true}, Case{253, 2, false}, Case{254, 3, true}}) {
    SCOPED_TRACE(c.stream_sectors);
    Bytes data = Pattern(512 * c.stream_sectors, 1);
    CompoundFileWriter writer;
    writer.AddStream("S", data);
    if (c.scatter) writer.ScatterSectors(11);
    Bytes file = writer.Build();
    ASSERT_EQ(CheckedU32(file, 0x2C), c.fat_sectors);
    EXPECT_EQ(file.size(), (c.stream_sectors + 1 + c.fat_sectors + 1) * 512);
    ParsedFile parsed = Parse(file);
    EXPECT_EQ(parsed.streams["S"], data);
    for (uint32_t i = 0; i < c.fat_sectors; ++i) {
      EXPECT_EQ(CheckedU32(file, 0x4C + i * 4), writer.FatSectors()[i]);
      EXPECT_EQ(parsed.fat[writer.FatSectors()[i]], 0xFFFFFFFDu);
    }
    EXPECT_EQ(CheckedU32(file, 0x4C + c.fat_sectors * 4), kNone);
  }
}

uint8_t At(const Bytes& stream, size_t offset) {
  EXPECT_LT(offset, stream.size());
  return offset < stream.size() ? stream[offset] : 0;
}

struct ParsedMacro {
  uint8_t mark = 0;
  uint8_t key = 0;
  Bytes text;
};

// Walks the command table the way a macro detector would.
std::vector<ParsedMacro> ParseMacros(const Bytes& stream) {
  std::vector<ParsedMacro> macros;
  uint32_t table = CheckedU32(stream, 0x118);
  EXPECT_EQ(At(stream, table), 0xFF);
  EXPECT_EQ(At(stream, table + 1), 1);
  uint16_t count = CheckedU16(stream, table + 2);
  for (size_t i = 0; i < count; ++i) {
    size_t entry = table + 4 + i * 24;
    ParsedMacro macro;
    macro.mark = At(stream, entry);
    macro.key = At(stream, entry + 1);
    uint16_t length = CheckedU16(stream, entry + 12);
    uint32_t text = CheckedU32(stream, entry + 20);
    EXPECT_LE(size_t{text} + length, stream.size());
    if (size_t{text} + length > stream.size()) break;
    macro.text.assign(stream.begin() + text, stream.begin() + text + length);
    macros.push_back(macro);
  }
  return macros;
}

// The offsets the macro tests patch through, and the FIB id and table position a test may
// set to make a stream that is no Word document.
TEST(WordDocumentStream, CommandTableListsEachMacroAndItsText) {
  Bytes first = {'S', 'u', 'b', ' ', 'A'};
  Bytes second = Pattern(300, 8);
  WordDocumentStream builder;
  builder.AddMacro(first, 0).AddMacro(second, 0x5A);
  Bytes stream = builder.Build();
  EXPECT_EQ(stream[0], 0xDC);
  std::vector<ParsedMacro> macros = ParseMacros(stream);
  ASSERT_EQ(macros.size(), 2u);
  EXPECT_EQ(macros[0].mark, 0x55);
  EXPECT_EQ(macros[0].text, first);
  EXPECT_EQ(macros[1].key, 0x5A);
  EXPECT_EQ(macros[1].text, second);
  EXPECT_EQ(builder.MacroEntryOffset(1), 0x200u + 4 + 24);
  EXPECT_EQ(CheckedU32(stream, builder.MacroEntryOffset(1) + 20), builder.MacroTextOffset(1));
  EXPECT_EQ(stream.size(), builder.MacroTextOffset(1) + second.size());

  Bytes moved = WordDocumentStream().FibId(0xDB).CommandTableAt(0x1000).Build();
  EXPECT_EQ(moved[0], 0xDB);
  EXPECT_EQ(CheckedU32(moved, 0x118), 0x1000u);
  EXPECT_TRUE(ParseMacros(moved).empty());
  EXPECT_EQ(moved.size(), 0x1004u) << "an empty table still has its macro block";
}

}  // namespace
}  // namespace quarn::testing
