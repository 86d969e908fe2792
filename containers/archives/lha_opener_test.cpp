// LhaOpener on archives built in code: what is taken for an archive, which methods are read
// and which reported, and how damage and truncation end.
#include <gtest/gtest.h>

#include <set>
#include <string_view>

#include "containers/test_support/lha_test_support.h"
#include "platform/test_support/memory_file_system.h"
#include "containers/test_support/lzh_writer.h"

namespace quarn {
namespace {

using testing::LzhCrc16;
using testing::LzhWriter;
using testing::OpenLha;
using testing::PatternBytes;
using testing::ReadLha;
using testing::WholeArchive;

std::vector<uint8_t> AsciiBytes(std::string_view text) {
  return {text.begin(), text.end()};
}

std::vector<uint8_t> Joined(std::vector<uint8_t> first, const std::vector<uint8_t>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

std::vector<uint8_t> Cut(const std::vector<uint8_t>& bytes, size_t size) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(size));
}

bool QuickLookOpens(const std::vector<uint8_t>& bytes) {
  const size_t head = std::min(bytes.size(), kContainerHeadBytes);
  return LhaOpener().MayOpen(std::span(bytes.data(), head), bytes.size());
}

struct NotAnArchive {
  const char* what;
  std::vector<uint8_t> bytes;
  bool turned_away_by_head;  // the quick look alone tells
};

TEST(LhaRecognition, OnlyAHeaderThatParsesFromTheFirstByteMakesAnArchive) {
  const std::vector<uint8_t> archive =
      LzhWriter().AddFile("Readme.txt", AsciiBytes("hello")).Build();
  std::vector<uint8_t> program = {'M', 'Z'};
  program.resize(300, 0x90);
  std::vector<uint8_t> checksum_wrong = archive;
  checksum_wrong[1] ^= 0x5A;
  std::vector<uint8_t> level_seven = archive;
  level_seven[LzhWriter::kLevelOffset] = 7;
  std::vector<uint8_t> larc_unknown = archive;
  larc_unknown[LzhWriter::kMethodOffset + 3] = '7';  // "-lz7-"
  larc_unknown[LzhWriter::kMethodOffset + 2] = 'z';
  const NotAnArchive cases[] = {
      {"an empty file", {}, true},
      {"text", AsciiBytes("This is a text file and no archive at all.\r\n"), true},
      {"a self-extracting program: the archive after its code", Joined(program, archive), true},
      {"a method id at offset 2 and nothing of a header around it",
       Joined(AsciiBytes("xx-lh5-"), PatternBytes(200, 1)), false},
      {"a header whose checksum is wrong", checksum_wrong, false},
      {"header level 7", level_seven, true},
      {"a method the archivers never wrote", larc_unknown, true},
      {"an archive cut inside its first header", Cut(archive, 25), false},
      {"an archive cut before a header's fixed part ends", Cut(archive, 21), true},
  };
  ASSERT_TRUE(OpenLha(archive).has_value()) << "the archive the cases are made from";
  for (const NotAnArchive& example : cases) {
    EXPECT_FALSE(OpenLha(example.bytes).has_value()) << example.what;
    if (example.turned_away_by_head) {
      EXPECT_FALSE(QuickLookOpens(example.bytes)) << example.what;
    }
  }
}

struct LhaMethodCase {
  const char* method;
  std::optional<IncompleteReason> unreadable;
};

TEST(LhaMethods, StoredDataReadsUnderEveryStoringIdAndUndecodableMethodsAreUnsupported) {
  const std::vector<uint8_t> data = PatternBytes(3000, 7);
  const LhaMethodCase cases[] = {
      {"-lh0-", std::nullopt},
      {"-lz4-", std::nullopt},
      {"-pm0-", std::nullopt},
      {"-lh2-", IncompleteReason::kUnsupported},
      {"-lh3-", IncompleteReason::kUnsupported},
      {"-lh8-", IncompleteReason::kUnsupported},
  };
  for (const LhaMethodCase& example : cases) {
    const std::vector<uint8_t> archive =
        LzhWriter()
            .AddPacked("First.dat", example.method, data, static_cast<uint32_t>(data.size()),
                       LzhCrc16(data))
            .AddFile("After.txt", AsciiBytes("after"))
            .Build();
    const WholeArchive read = ReadLha(archive);
    ASSERT_EQ(read.entries.size(), 2u) << example.method;
    const testing::ReadEntry& first = read.entries[0];
    EXPECT_EQ(first.entry.unreadable, example.unreadable) << example.method;
    EXPECT_TRUE(first.entry.regular) << example.method;
    EXPECT_EQ(first.entry.size, data.size()) << example.method;
    EXPECT_EQ(first.failure, std::nullopt) << example.method;
    EXPECT_EQ(first.data, example.unreadable ? std::vector<uint8_t>() : data) << example.method;
    // The data of an entry that was not read is passed over to reach the next one.
    EXPECT_EQ(read.entries[1].data, AsciiBytes("after")) << example.method;
    EXPECT_FALSE(read.damaged) << example.method;
  }
}

TEST(LhaMethods, AnUnsupportedEntrysDataIsNeverRead) {
  const std::vector<uint8_t> archive =
      LzhWriter().AddPacked("Old.txt", "-lh2-", PatternBytes(500, 2), 500, 0).Build();
  std::optional<OpenedContainer> opened = OpenLha(archive);
  ASSERT_TRUE(opened.has_value());
  ASSERT_TRUE(opened->archive->NextEntry().has_value());
  const uint64_t before = opened->archive->PackedBytesRead();
  uint8_t buffer[64];
  const EntryRead read = opened->archive->ReadData(buffer, sizeof buffer);
  EXPECT_EQ(read.bytes, 0u);
  EXPECT_EQ(read.failure, IncompleteReason::kUnsupported);
  EXPECT_EQ(opened->archive->PackedBytesRead(), before);
  // Nor that of an entry too large to scan: the scan may pass over it and go on.
  EXPECT_TRUE(opened->archive->SkipsCheaply());
}

// MacLHA put a MacBinary header before a file's data; the library would drop it, and with
// it the bytes that the CRC covers.
TEST(LhaEntries, MacLhaDataIsReadWholeAndItsCrcChecked) {
  constexpr uint32_t kMacEpochOffset = 2082844800;
  const std::string name = "Note.txt";
  std::vector<uint8_t> data(256, 0);
  data[1] = static_cast<uint8_t>(name.size());
  std::copy(name.begin(), name.end(), data.begin() + 2);
  const auto put_big_endian = [&](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) data[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
  };
  put_big_endian(0x53, 100);  // data fork length
  put_big_endian(0x5F, LzhWriter::kUnixTime + kMacEpochOffset);
  std::fill(data.begin() + 128, data.begin() + 228, 'm');
  const WholeArchive read = ReadLha(LzhWriter().Level(2).Os('m').AddFile(name, data).Build());
  ASSERT_EQ(read.entries.size(), 1u);
  EXPECT_EQ(read.entries[0].data, data);
  EXPECT_EQ(read.entries[0].failure, std::nullopt);
}

// The archive on a file system that can make reads fail or come short.
struct FaultyArchive {
  MemoryFileSystem files;
  std::shared_ptr<File> file;
  explicit FaultyArchive(const std::vector<uint8_t>& bytes) {
    EXPECT_TRUE(files.AddFile("/a.lzh", bytes).ok());
    auto root = files.OpenFolder("/");
    if (!root.ok()) return;
    auto opened = (*root)->OpenFile("a.lzh", OpenMode::kRead);
    if (opened.ok()) file = std::shared_ptr<File>(std::move(*opened));
  }
};

TEST(LhaDamage, ShortReadsStillReadAllAndAFailedReadIsDamageNotTheEnd) {
  const std::vector<uint8_t> first = PatternBytes(2000, 13);
  const std::vector<uint8_t> archive =
      LzhWriter().AddFile("First.bin", first).AddFile("Second.txt", AsciiBytes("second")).Build();

  FaultyArchive slow(archive);
  slow.files.SetShortReads(3);
  std::optional<OpenedContainer> opened = LhaOpener().Open(slow.file);
  ASSERT_TRUE(opened.has_value());
  const WholeArchive read = testing::ReadWhole(*opened->archive);
  ASSERT_EQ(read.entries.size(), 2u);
  EXPECT_EQ(read.entries[0].data, first);
  EXPECT_EQ(read.entries[1].data, AsciiBytes("second"));
  EXPECT_FALSE(read.damaged);

  FaultyArchive failing(archive);
  opened = LhaOpener().Open(failing.file);
  ASSERT_TRUE(opened.has_value());
  ASSERT_TRUE(opened->archive->NextEntry().has_value());
  failing.files.FailCall(FileOperation::kRead, 1, /*and_after=*/true);
  EXPECT_FALSE(opened->archive->NextEntry().has_value());
  EXPECT_TRUE(opened->archive->Damaged());
}

struct LhaDamageCase {
  const char* what;
  std::vector<uint8_t> archive;
  std::vector<std::optional<IncompleteReason>> failures;  // by entry, in order
  bool damaged;
};

TEST(LhaDamage, BadDataFailsItsEntryAndABrokenHeaderEndsTheArchive) {
  const std::vector<uint8_t> text = AsciiBytes("hello, world\r\n");
  const uint16_t crc = LzhCrc16(text);
  const auto two = [&](int level) {
    LzhWriter writer;
    writer.Level(level).AddFile("First.txt", text).AddFile("Second.txt", PatternBytes(900, 5));
    return writer;
  };
  const LzhWriter level_0 = two(0);
  const LzhWriter level_2 = two(2);
  const std::vector<uint8_t> whole = level_0.Build();
  std::vector<uint8_t> checksum_wrong = whole;
  checksum_wrong[level_0.HeaderOffset(1) + 1] ^= 0x01;
  std::vector<uint8_t> header_crc_wrong = level_2.Build();
  header_crc_wrong[level_2.DataOffset(1) - 4] ^= 0x20;  // in the second header's last part
  const std::vector<uint8_t> padded = Joined(whole, std::vector<uint8_t>(100, 0x1A));
  const std::vector<uint8_t> garbage_after =
      Joined(Cut(whole, whole.size() - 1), Joined({0x55}, PatternBytes(60, 6)));
  const auto ok = std::optional<IncompleteReason>();
  const auto bad = std::optional<IncompleteReason>(IncompleteReason::kDamaged);
  const LhaDamageCase cases[] = {
      {"a CRC that does not match the data",
       LzhWriter()
           .AddPacked("Bad.txt", "-lh0-", text, static_cast<uint32_t>(text.size()), crc ^ 0x0101)
           .AddFile("Good.txt", text)
           .Build(),
       {bad, ok},
       false},
      {"less data than the header's length",
       LzhWriter()
           .AddPacked("Short.txt", "-lh0-", text, static_cast<uint32_t>(text.size() + 4), crc)
           .AddFile("Good.txt", text)
           .Build(),
       {bad, ok},
       false},
      {"data cut where the archive ends", Cut(whole, level_0.DataOffset(1) + 3), {ok, bad}, true},
      {"the second header cut", Cut(whole, level_0.HeaderOffset(1) + 10), {ok}, true},
      {"the second header's checksum wrong", checksum_wrong, {ok}, true},
      {"a level 2 header whose CRC is wrong", header_crc_wrong, {ok}, true},
      {"garbage where a header should be", garbage_after, {ok, ok}, true},
      {"no end mark", LzhWriter(level_0).WithoutEndMark().Build(), {ok, ok}, false},
      {"padding after the end mark", padded, {ok, ok}, false},
  };
  for (const LhaDamageCase& example : cases) {
    const WholeArchive read = ReadLha(example.archive);
    ASSERT_EQ(read.entries.size(), example.failures.size()) << example.what;
    for (size_t i = 0; i < read.entries.size(); ++i) {
      EXPECT_EQ(read.entries[i].failure, example.failures[i]) << example.what << ", entry " << i;
    }
    EXPECT_EQ(read.damaged, example.damaged) << example.what;
  }
}

// An archive cut anywhere opens or not, and reads to an end that tells what was lost: only
// a cut exactly between two entries looks like an archive that ends there.
TEST(LhaDamage, ACutAtEverySeventhByteIsReportedAndLeavesWholeEntriesIntact) {
  LzhWriter writer;
  writer.AddFile("Dos/Keyb.com", PatternBytes(1200, 8))
      .Level(1)
      .AddFolder("Games")
      .Level(2)
      .AddFile("Games/Doom.exe", PatternBytes(3000, 9))
      .Level(1)
      .AddPacked("Games/Old.txt", "-lh2-", PatternBytes(400, 10), 700, 0)
      .Level(0)
      .AddFile("Empty.dat", {});
  const std::vector<uint8_t> full = writer.Build();
  const WholeArchive original = ReadLha(full);
  ASSERT_EQ(original.entries.size(), 5u);
  ASSERT_FALSE(original.damaged);
  std::set<size_t> between_entries = {full.size() - 1};
  for (size_t i = 1; i < original.entries.size(); ++i)
    between_entries.insert(writer.HeaderOffset(i));

  for (size_t cut = 7; cut < full.size(); cut += 7) {
    std::optional<OpenedContainer> opened = OpenLha(Cut(full, cut));
    ASSERT_EQ(opened.has_value(), cut >= writer.DataOffset(0)) << "cut at " << cut;
    if (!opened) continue;
    const WholeArchive read = testing::ReadWhole(*opened->archive);
    ASSERT_LE(read.entries.size(), original.entries.size()) << "cut at " << cut;
    bool reported = read.damaged;
    for (size_t i = 0; i < read.entries.size(); ++i) {
      const testing::ReadEntry& entry = read.entries[i];
      EXPECT_EQ(entry.entry.path, original.entries[i].entry.path) << "cut at " << cut;
      if (entry.failure) {
        EXPECT_EQ(entry.failure, IncompleteReason::kDamaged) << "cut at " << cut;
        reported = true;
      } else {
        EXPECT_EQ(entry.data, original.entries[i].data) << "cut at " << cut << ", entry " << i;
      }
    }
    EXPECT_EQ(reported, !between_entries.contains(cut)) << "cut at " << cut;
  }
}

}  // namespace
}  // namespace quarn
