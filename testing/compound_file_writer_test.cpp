#include "testing/compound_file_writer.h"

#include <gtest/gtest.h>

#include "testing/test_bytes.h"

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

bool Contiguous(const std::vector<uint32_t>& chain) {
  for (size_t i = 1; i < chain.size(); ++i) {
    if (chain[i] != chain[i - 1] + 1) return false;
  }
  return true;
}

TEST(CompoundFileWriter, HeaderCarriesTheFixedFields) {
  Bytes file = CompoundFileWriter().AddStream("A", {1, 2, 3}).Build();
  ASSERT_GE(file.size(), 1024u);
  EXPECT_EQ(file.size() % 512, 0u);
  const uint8_t signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  EXPECT_TRUE(std::equal(std::begin(signature), std::end(signature), file.begin()));
  EXPECT_EQ(CheckedU16(file, 0x18), 0x3E);
  EXPECT_EQ(CheckedU16(file, 0x1A), 3);
  EXPECT_EQ(CheckedU16(file, 0x1C), 0xFFFE);
  EXPECT_EQ(CheckedU16(file, 0x1E), 9);
  EXPECT_EQ(CheckedU16(file, 0x20), 6);
  EXPECT_EQ(CheckedU32(file, 0x2C), 1u);
  EXPECT_EQ(CheckedU32(file, 0x38), 0x1000u);
  EXPECT_EQ(CheckedU32(file, 0x3C), kEnd);
  EXPECT_EQ(CheckedU32(file, 0x44), kEnd);
  for (size_t i = 1; i < 109; ++i) EXPECT_EQ(CheckedU32(file, 0x4C + i * 4), kNone) << "slot " << i;
}

TEST(CompoundFileWriter, SmallStreamsStayInRegularSectors) {
  CompoundFileWriter writer;
  writer.AddStream("Tiny", {0x42}).AddStream("Empty", {});
  ParsedFile parsed = Parse(writer.Build());
  EXPECT_EQ(parsed.streams["Tiny"], Bytes{0x42});
  EXPECT_EQ(parsed.chains["Tiny"].size(), 1u);
  EXPECT_EQ(parsed.chains["Tiny"], writer.SectorsOf("Tiny"));
  EXPECT_TRUE(parsed.streams["Empty"].empty());
  EXPECT_TRUE(writer.SectorsOf("Empty").empty());
  EXPECT_TRUE(writer.SectorsOf("Missing").empty());
}

TEST(CompoundFileWriter, DirectoryDescribesRootAndStreams) {
  CompoundFileWriter writer;
  writer.AddStream("WordDocument", Pattern(10, 1)).AddStream("1Table", Pattern(20, 2));
  Bytes file = writer.Build();
  ParsedFile parsed = Parse(file);
  ASSERT_GE(parsed.entries.size(), 3u);
  EXPECT_EQ(parsed.entries[0].name, "Root Entry");
  EXPECT_EQ(parsed.entries[0].type, 5);
  EXPECT_EQ(parsed.entries[1].name, "WordDocument");
  EXPECT_EQ(parsed.entries[1].type, 2);
  EXPECT_EQ(parsed.entries[1].size, 10u);
  EXPECT_EQ(parsed.entries[2].name, "1Table");
  EXPECT_EQ(ReachableNames(parsed), (std::set<std::string>{"WordDocument", "1Table"}));
  // The name length counts the terminator: 12 characters and a NUL, in UTF-16.
  std::optional<size_t> entry = writer.DirectoryEntryOffset("WordDocument");
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(CheckedU16(file, *entry + 0x40), 26);
  EXPECT_EQ(CheckedU16(file, *entry), 'W');
  EXPECT_EQ(CheckedU16(file, *entry + 22), 't');
  EXPECT_EQ(CheckedU16(file, *entry + 24), 0);
  EXPECT_FALSE(writer.DirectoryEntryOffset("Missing").has_value());
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

TEST(CompoundFileWriter, StreamSpanningSectorsIsChainedInOrder) {
  CompoundFileWriter writer;
  Bytes data = Pattern(512 * 3 + 17, 9);
  writer.AddStream("Big", data);
  ParsedFile parsed = Parse(writer.Build());
  EXPECT_EQ(parsed.streams["Big"], data);
  EXPECT_EQ(parsed.chains["Big"].size(), 4u);
  EXPECT_EQ(parsed.chains["Big"], writer.SectorsOf("Big"));
}

TEST(CompoundFileWriter, ScatteredStreamsAreRecoveredOnlyThroughTheFat) {
  Bytes first = Pattern(512 * 5 + 100, 3);
  Bytes second = Pattern(512 * 4, 200);
  for (uint32_t seed : {1u, 2u, 99u}) {
    CompoundFileWriter writer;
    writer.AddStream("First", first).AddStream("Second", second).ScatterSectors(seed);
    ParsedFile parsed = Parse(writer.Build());
    EXPECT_EQ(parsed.streams["First"], first) << "seed " << seed;
    EXPECT_EQ(parsed.streams["Second"], second) << "seed " << seed;
    EXPECT_EQ(parsed.chains["First"], writer.SectorsOf("First"));
    // No step of any chain goes to the physically next sector.
    for (const auto& [name, chain] : parsed.chains) {
      for (size_t i = 1; i < chain.size(); ++i) {
        EXPECT_NE(chain[i], chain[i - 1] + 1) << name << " seed " << seed;
      }
    }
    // Reading the sectors in file order would give other bytes.
    std::vector<uint32_t> sectors = writer.SectorsOf("First");
    std::vector<uint32_t> sorted = sectors;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_NE(sectors, sorted) << "seed " << seed;
  }
}

TEST(CompoundFileWriter, ScatterIsRepeatableAndSeedDependent) {
  auto build = [](uint32_t seed) {
    return CompoundFileWriter().AddStream("X", Pattern(4000, 1)).ScatterSectors(seed).Build();
  };
  EXPECT_EQ(build(5), build(5));
  EXPECT_NE(build(5), build(6));
  EXPECT_TRUE(Contiguous(CompoundFileWriter().AddStream("X", Pattern(4000, 1)).SectorsOf("X")));
}

TEST(CompoundFileWriter, MoreThan128SectorsNeedASecondFatSector) {
  Bytes big = Pattern(512 * 130 + 1, 5);
  for (bool scatter : {false, true}) {
    CompoundFileWriter writer;
    writer.AddStream("Big", big);
    if (scatter) writer.ScatterSectors(11);
    Bytes file = writer.Build();
    ASSERT_EQ(CheckedU32(file, 0x2C), 2u) << "scatter " << scatter;
    EXPECT_EQ(CheckedU32(file, 0x4C), writer.FatSectors()[0]);
    EXPECT_EQ(CheckedU32(file, 0x50), writer.FatSectors()[1]);
    EXPECT_EQ(CheckedU32(file, 0x54), kNone);
    ParsedFile parsed = Parse(file);
    EXPECT_EQ(parsed.streams["Big"], big) << "scatter " << scatter;
    EXPECT_EQ(parsed.chains["Big"].size(), 131u);
    // 2 FAT + 1 directory + 131 stream sectors, no more.
    EXPECT_EQ(file.size(), (134u + 1) * 512);
    for (uint32_t fat_sector : writer.FatSectors()) {
      EXPECT_EQ(parsed.fat[fat_sector], 0xFFFFFFFDu) << "scatter " << scatter;
    }
    for (size_t i = 134; i < parsed.fat.size(); ++i) EXPECT_EQ(parsed.fat[i], kNone);
  }
}

// The FAT must also cover its own sectors, so the second one is needed one stream sector
// before the data alone fills 128 entries.
TEST(CompoundFileWriter, FatSectorCountCountsTheFatItself) {
  struct Case {
    size_t stream_sectors;  // the directory adds one more
    uint32_t fat_sectors;
  };
  for (const Case& c : {Case{126, 1}, Case{127, 2}, Case{253, 2}, Case{254, 3}}) {
    Bytes data = Pattern(512 * c.stream_sectors, 1);
    CompoundFileWriter writer;
    writer.AddStream("S", data);
    Bytes file = writer.Build();
    EXPECT_EQ(CheckedU32(file, 0x2C), c.fat_sectors) << c.stream_sectors << " stream sectors";
    EXPECT_EQ(file.size(), (c.stream_sectors + 1 + c.fat_sectors + 1) * 512);
    EXPECT_EQ(Parse(file).streams["S"], data) << c.stream_sectors << " stream sectors";
  }
}

TEST(CompoundFileWriter, FatEntryOffsetLetsATestRedirectAChain) {
  CompoundFileWriter writer;
  writer.AddStream("Data", Pattern(512 * 3, 4)).ScatterSectors(3);
  Bytes file = writer.Build();
  std::vector<uint32_t> chain = writer.SectorsOf("Data");
  ASSERT_EQ(chain.size(), 3u);
  size_t offset = writer.FatEntryOffset(chain[0]);
  EXPECT_EQ(CheckedU32(file, offset), chain[1]);
  EXPECT_EQ(CheckedU32(file, writer.FatEntryOffset(chain[2])), kEnd);
  // Cut the chain after its first sector: the reader now finds one sector.
  file[offset] = 0xFE;
  file[offset + 1] = 0xFF;
  file[offset + 2] = 0xFF;
  file[offset + 3] = 0xFF;
  ParsedFile parsed = Parse(file);
  EXPECT_EQ(parsed.chains["Data"], std::vector<uint32_t>{chain[0]});
  EXPECT_EQ(parsed.short_streams, std::set<std::string>{"Data"});
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

TEST(WordDocumentStream, CommandTableListsEachMacroAndItsText) {
  Bytes first = {'S', 'u', 'b', ' ', 'A'};
  Bytes second = Pattern(300, 8);
  WordDocumentStream builder;
  builder.AddMacro(first, 0).AddMacro(second, 0x5A);
  Bytes stream = builder.Build();
  EXPECT_EQ(stream[0], 0xDC);
  EXPECT_EQ(CheckedU32(stream, 0x118), 0x200u);
  std::vector<ParsedMacro> macros = ParseMacros(stream);
  ASSERT_EQ(macros.size(), 2u);
  EXPECT_EQ(macros[0].mark, 0x55);
  EXPECT_EQ(macros[0].key, 0);
  EXPECT_EQ(macros[0].text, first);
  EXPECT_EQ(macros[1].mark, 0x55);
  EXPECT_EQ(macros[1].key, 0x5A);
  EXPECT_EQ(macros[1].text, second);
  EXPECT_EQ(builder.MacroEntryOffset(1), 0x200u + 4 + 24);
  EXPECT_EQ(CheckedU32(stream, builder.MacroEntryOffset(1) + 20), builder.MacroTextOffset(1));
  EXPECT_EQ(stream.size(), builder.MacroTextOffset(1) + second.size());
}

TEST(WordDocumentStream, FibIdAndTableOffsetAreHonoured) {
  Bytes stream = WordDocumentStream().FibId(0xDB).CommandTableAt(0x1000).AddMacro({'x'}, 3).Build();
  EXPECT_EQ(stream[0], 0xDB);
  EXPECT_EQ(CheckedU32(stream, 0x118), 0x1000u);
  std::vector<ParsedMacro> macros = ParseMacros(stream);
  ASSERT_EQ(macros.size(), 1u);
  EXPECT_EQ(macros[0].key, 3);
  EXPECT_EQ(macros[0].text, Bytes{'x'});
}

TEST(WordDocumentStream, EmptyTableStillHasItsMacroBlock) {
  Bytes stream = WordDocumentStream().Build();
  EXPECT_TRUE(ParseMacros(stream).empty());
  EXPECT_EQ(CheckedU16(stream, 0x202), 0);
  EXPECT_EQ(stream.size(), 0x204u);
}

TEST(WordDocumentStream, SurvivesAScatteredCompoundFile) {
  Bytes text = Pattern(1500, 6);
  Bytes stream = WordDocumentStream().AddMacro(text, 0x11).Build();
  ParsedFile parsed =
      Parse(CompoundFileWriter().AddStream("WordDocument", stream).ScatterSectors(4).Build());
  std::vector<ParsedMacro> macros = ParseMacros(parsed.streams["WordDocument"]);
  ASSERT_EQ(macros.size(), 1u);
  EXPECT_EQ(macros[0].text, text);
}

}  // namespace
}  // namespace quarn::testing
