#include "engine/executable_chain.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/database_builder.h"
#include "engine/entry_locator.h"
#include "engine/section_directory.h"
#include "engine/signature_detectors.h"
#include "engine/test_support/executable_builder.h"
#include "engine/test_support/signature_record_bytes.h"
#include "platform/byte_reader.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/open_bytes.h"

namespace quarn {
namespace {

using testing::EntryRecord;
using testing::MzBuilder;
using testing::OffsetRecord;
using testing::PatternRecord;
using testing::PeBuilder;
using Bytes = std::vector<uint8_t>;

// The fixture: a PE image whose DOS part starts its code at 0x40 (CS:IP 0 behind a
// 4-paragraph header), with the PE header at 0x100 and the PE entry at 0x400.
constexpr uint32_t kDosEntry = 0x40;
constexpr uint32_t kPeHeader = 0x100;
constexpr uint32_t kPeEntry = 0x400;
constexpr uint16_t kCallerFlag = 7;  // a value the chain never hands back

const Bytes kDosCode = {0xB8, 1, 2, 3, 4, 5, 6, 7, 8, 9};
const Bytes kPeCode = {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10};

// Records that match the fixture. DOS entry: confirmation C1–C4 at entry + 0x20; forward
// confirmations at entry + 16 + 0x30 and 4 past that read; backward ones at entry − 0x20 and
// 8 further. PE entry: forward confirmations at entry + 16 + 0x20 and 4 past that read.
const Bytes kDosEntryExact =
    EntryRecord(11, {0xB8, 1, 2, 3, 4, 5, 6, 7}, 0, 0x20, {0xC1, 0xC2, 0xC3, 0xC4});
const Bytes kDosEntryPartial =
    EntryRecord(12, {0xB8, 1, 2, 3, 4, 5, 6, 7}, 0, 0x20, {0xC1, 0, 0, 0});
const Bytes kDosForwardExact =
    OffsetRecord(21, {0xB8, 1}, 0, 0x30, {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6}, 4, {0xE1, 0xE2});
const Bytes kDosForwardPartial =
    OffsetRecord(22, {0xB8, 1}, 0, 0x30, {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6}, 4, {0xE1, 0});
const Bytes kDosBackwardExact =
    OffsetRecord(31, {0xB8, 1}, 0, 0x20, {0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6}, 8, {0xB7, 0xB8});
const Bytes kDosPattern = PatternRecord(41, {0xB8, 3, 9}, 16);
const Bytes kPeForwardExact =
    OffsetRecord(51, {0x55, 0x8B}, 0, 0x20, {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6}, 4, {0xD1, 0xD2});
const Bytes kPeForwardPartial =
    OffsetRecord(52, {0x55, 0x8B}, 0, 0x20, {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6}, 4, {0xD1, 0});
// Would match at the PE header offset, the entry of a file that is not a PE image.
const Bytes kAtPeHeader =
    OffsetRecord(61, {'N', 'E'}, 0, 0x200, {0x91, 0x92, 0x93, 0x94, 0x95, 0x96}, 4, {0x97, 0x98});

PeBuilder Fixture() {
  return PeBuilder()
      .PeOffset(kPeHeader)
      .SectionRawPointer(kPeEntry)
      .Code(kDosEntry, kDosCode)
      .Code(kDosEntry + 0x20, {0xC1, 0xC2, 0xC3, 0xC4})
      .Code(kDosEntry + 16 + 0x30, {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6})
      .Code(kDosEntry + 16 + 0x30 + 16 + 4, {0xE1, 0xE2})
      .Code(kDosEntry - 0x20, {0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0, 0, 0xB7, 0xB8})
      .Code(kPeEntry, kPeCode)
      .Code(kPeEntry + 16 + 0x20, {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6})
      .Code(kPeEntry + 16 + 0x20 + 16 + 4, {0xD1, 0xD2})
      .Code(kPeHeader + 16 + 0x200, {0x91, 0x92, 0x93, 0x94, 0x95, 0x96})
      .Code(kPeHeader + 16 + 0x200 + 16 + 4, {0x97, 0x98});
}

Bytes PeImage() {
  return Fixture().Build();
}
// The same bytes with the "PE" signature broken: LocatePeEntry calls it no PE image.
Bytes NotPeImage() {
  return Fixture().Code(kPeHeader, {'N', 'E'}).Build();
}

// Records by section index.
using Sections = std::map<int, std::vector<Bytes>>;

// What Detect gives when the test's database could not be built at all.
constexpr uint32_t kNotBuilt = 0xFFFFFFFF;

class ExecutableChainTest : public ::testing::Test {
 protected:
  uint32_t Detect(const Sections& sections, const Bytes& image) {
    DatabaseContent content;
    for (const auto& [section, records] : sections) content.sections[section].records = records;
    auto built = BuildSignatureImage(content);
    EXPECT_TRUE(built.ok()) << built.message();
    if (!built) return kNotBuilt;
    signatures_ = DatabaseImage(*built);
    return DetectFile(image);
  }

  uint32_t DetectFile(const Bytes& image) {
    std::unique_ptr<File> file =
        testing::OpenBytes(files_, image, "f" + std::to_string(files_opened_++) + ".exe");
    flag_ = kCallerFlag;
    return DetectExecutable(signatures_, *file, &flag_);
  }

  MemoryFileSystem files_;
  int files_opened_ = 0;
  DatabaseImage signatures_;
  uint16_t flag_ = kCallerFlag;
};

struct ChainCase {
  const char* name;
  Sections sections;
  bool pe;
  uint32_t id;
  uint16_t flag;
};

TEST_F(ExecutableChainTest, KeepsPartialMatchesOnlyUntilTheNextDetectorAnswers) {
  const std::vector<ChainCase> cases = {
      {"nothing anywhere", {}, true, 0, 0},
      {"an exact entry match ends the chain",
       {{kExeEntrySection, {kDosEntryExact}},
        {kExeForwardSection, {kDosForwardExact}},
        {kPeEntrySection, {kPeForwardExact}}},
       true,
       11,
       0},
      {"a partial entry match is replaced by a later exact one",
       {{kExeEntrySection, {kDosEntryPartial}}, {kExeForwardSection, {kDosForwardExact}}},
       true,
       21,
       0},
      {"a partial match in the middle of the chain is wiped out by the steps after it",
       {{kExeEntrySection, {kDosEntryPartial}}, {kExeForwardSection, {kDosForwardPartial}}},
       false,
       0,
       0},
      {"a partial match is replaced by the next step's nothing",
       {{kExeEntrySection, {kDosEntryPartial}}},
       false,
       0,
       0},
      {"a partial match is replaced by the PE step's nothing",
       {{kExeEntrySection, {kDosEntryPartial}}, {kExeForwardSection, {kDosForwardPartial}}},
       true,
       0,
       0},
      {"a partial match is replaced by the PE step's exact one",
       {{kExeEntrySection, {kDosEntryPartial}}, {kPeEntrySection, {kPeForwardExact}}},
       true,
       51,
       0},
      {"a partial match from the PE step is handed back as one",
       {{kPeEntrySection, {kPeForwardPartial}}},
       true,
       52,
       1},
      {"an exact match before the PE step keeps it from running",
       {{kExeBackwardSection, {kDosBackwardExact}}, {kPeEntrySection, {kPeForwardExact}}},
       true,
       31,
       0},
      {"the PE step skips a file that is not a PE image",
       {{kPeEntrySection, {kPeForwardExact, kAtPeHeader}}},
       false,
       0,
       0},
      {"the PE step reads its own section, not the DOS forward one",
       {{kExeForwardSection, {kPeForwardExact}}},
       true,
       0,
       0},
  };
  for (const ChainCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Detect(c.sections, c.pe ? PeImage() : NotPeImage()), c.id);
    EXPECT_EQ(flag_, c.flag);
  }
}

TEST_F(ExecutableChainTest, PeHeaderRecordMatchesWhereTheNonPeEntryLies) {
  // Keeps the "skips a file that is not a PE image" case honest: had the chain scanned
  // section 32 at the entry LocatePeEntry gives such a file, this record would match.
  DatabaseContent content;
  content.sections[kPeEntrySection].records = {kAtPeHeader};
  signatures_ = DatabaseImage(*BuildSignatureImage(content));
  std::unique_ptr<File> file = testing::OpenBytes(files_, NotPeImage());
  DetectorState state;
  uint32_t pe_offset = 0;
  uint64_t section_header_offset = 0;
  ASSERT_EQ(LocatePeEntry(*file, state, &pe_offset, &section_header_offset), 1);
  EXPECT_EQ(
      ScanForwardSignatures(signatures_, *file, &flag_, DirectoryOffset(kPeEntrySection), state),
      61u);
}

TEST_F(ExecutableChainTest, EachDosStepReadsItsOwnSection) {
  const Bytes call_image = MzBuilder()
                               .EntryAt(0x200)
                               .Code(0x200, {0xE8, 0x00, 0x00, 0x5D})
                               .Code(0x200 + 16 + 8, {0x71, 0x72, 0x73, 0x74, 0x75, 0x76})
                               .Code(0x200 + 16 + 8 + 16 + 2, {0x77, 0x78})
                               .Size(0x300)
                               .Build();
  const Bytes call_record =
      OffsetRecord(71, {0, 0}, 0, 8, {0x71, 0x72, 0x73, 0x74, 0x75, 0x76}, 2, {0x77, 0x78});
  const std::vector<ChainCase> cases = {
      {"entry", {{kExeEntrySection, {kDosEntryExact}}}, false, 11, 0},
      {"forward", {{kExeForwardSection, {kDosForwardExact}}}, false, 21, 0},
      {"backward", {{kExeBackwardSection, {kDosBackwardExact}}}, false, 31, 0},
      {"pattern", {{kExePatternSection, {kDosPattern}}}, false, 41, 0},
      // The pattern's bytes cut to the entry section's record size, read by the entry rules.
      {"pattern record in the entry section",
       {{kExeEntrySection, {Bytes(kDosPattern.begin(), kDosPattern.begin() + 16)}}},
       false,
       0,
       0},
      {"backward record in the forward section",
       {{kExeForwardSection, {kDosBackwardExact}}},
       false,
       0,
       0},
  };
  for (const ChainCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Detect(c.sections, NotPeImage()), c.id);
    EXPECT_EQ(flag_, c.flag);
  }
  {
    SCOPED_TRACE("call");
    EXPECT_EQ(Detect({{kExeCallSection, {call_record}}}, call_image), 71u);
    EXPECT_EQ(Detect({{kExeForwardSection, {call_record}}}, call_image), 0u);
  }
}

TEST_F(ExecutableChainTest, HostilePeOffsets) {
  struct OffsetCase {
    uint32_t pe_offset;
    uint32_t id;
  };
  const uint32_t size = static_cast<uint32_t>(PeImage().size());
  // The last case finds "PE" in the file's last two bytes and the rest of the PE header
  // left over from the DOS header read.
  const std::vector<OffsetCase> cases = {
      {kPeHeader, 51},  // the real header: the PE step finds its record
      {0xFFFFFFFF, 0}, {0xFFFFFFFC, 0}, {0x80000000, 0}, {0x7FFFFFFF, 0}, {0x3C, 0},
      {0, 0},          {size - 1, 0},   {size, 0},       {size - 2, 0},
  };

  for (const OffsetCase& c : cases) {
    SCOPED_TRACE(c.pe_offset);
    Bytes image = PeImage();
    WriteU32(&image[MzBuilder::kPeOffsetOffset], c.pe_offset);
    if (c.pe_offset == size - 2) {
      image[size - 2] = 'P';
      image[size - 1] = 'E';
    }
    EXPECT_EQ(Detect({{kExeEntrySection, {kDosEntryPartial}}, {kPeEntrySection, {kPeForwardExact}}},
                     image),
              c.id);
    EXPECT_EQ(flag_, 0);
  }
}

TEST_F(ExecutableChainTest, FileThatReadsNothing) {
  EXPECT_EQ(
      Detect({{kExeEntrySection, {kDosEntryExact}}, {kExeForwardSection, {kDosForwardExact}}}, {}),
      0u);
  EXPECT_EQ(flag_, 0);
  // LocatePeEntry calls a file that reads nothing a PE image, so the PE step runs over the
  // zero-filled buffers; a record of zero bytes passes its first two stages there and is
  // handed back as a partial match.
  EXPECT_EQ(Detect({{kPeEntrySection, {OffsetRecord(91, {0, 0}, 0, 0, {}, 0, {})}}}, {}), 91u);
  EXPECT_EQ(flag_, 1);
}

TEST_F(ExecutableChainTest, StartsEveryFileWithFreshState) {
  // An empty file reads nothing, so the PE step compares whatever the buffers hold. After
  // the PE file they would hold its entry code and, as scratch, the last confirmation read
  // (D1 D2 and zeros); this record matches exactly those leftovers.
  const Bytes leftovers = OffsetRecord(53, {0x55, 0x8B}, 0, 0, {0xD1, 0xD2, 0, 0, 0, 0}, 0, {});
  EXPECT_EQ(Detect({{kPeEntrySection, {kPeForwardExact}}}, PeImage()), 51u);
  EXPECT_EQ(Detect({{kPeEntrySection, {leftovers}}}, {}), 0u);
  EXPECT_EQ(flag_, 0);
}

TEST_F(ExecutableChainTest, RandomBytesNeverCrashAndKeepTheFlagRule) {
  std::mt19937 random(20261206);
  auto random_bytes = [&](size_t size) {
    Bytes bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
  };
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    Sections sections;
    for (int section : {kExeEntrySection, kExeCallSection, kExeForwardSection, kExeBackwardSection,
                        kPeEntrySection}) {
      for (int i = 0; i < 4; ++i) sections[section].push_back(random_bytes(16));
    }
    for (int i = 0; i < 4; ++i) sections[kExePatternSection].push_back(random_bytes(20));
    Bytes image = random_bytes(random() % 1500);
    if (image.size() >= 2 && round % 2 == 0) {
      image[0] = 'M';
      image[1] = 'Z';
    }
    const uint32_t id = Detect(sections, image);
    ASSERT_TRUE(flag_ == 0 || flag_ == 1);
    if (id == 0) {
      ASSERT_EQ(flag_, 0);
    }
    const uint16_t flag = flag_;
    ASSERT_EQ(DetectFile(image), id);  // the same file alone gives the same answer
    ASSERT_EQ(flag_, flag);
  }
}

TEST_F(ExecutableChainTest, AcceptsNoFlag) {
  DatabaseContent content;
  content.sections[kExeEntrySection].records = {kDosEntryPartial};
  signatures_ = DatabaseImage(*BuildSignatureImage(content));
  EXPECT_EQ(DetectExecutable(signatures_, *testing::OpenBytes(files_, NotPeImage()), nullptr), 0u);
}

}  // namespace
}  // namespace quarn
