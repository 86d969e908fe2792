#include "engine/com_detectors.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "engine/test_support/executable_builder.h"
#include "engine/test_support/signature_record_bytes.h"
#include "platform/byte_reader.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/open_bytes.h"
#include "platform/test_support/test_bytes.h"

namespace quarn {
namespace {

using testing::ComBuilder;
using testing::EntryRecord;
using testing::OffsetRecord;
using testing::Ramp;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kUnsetEntry = 0x1234;  // an entry position no detector computes here

// The lengths are those of the patterns unless given.
Bytes EndRecord(uint16_t id, uint8_t tail_offset, const Bytes& first, uint16_t distance,
                const Bytes& second, int first_length = -1, int second_length = -1) {
  Bytes record(19, 0);
  WriteU16(&record[0], id);
  record[2] = tail_offset;
  record[3] = static_cast<uint8_t>(first_length < 0 ? first.size() : first_length);
  std::copy(first.begin(), first.end(), record.begin() + 4);
  WriteU16(&record[12], distance);
  record[14] = static_cast<uint8_t>(second_length < 0 ? second.size() : second_length);
  std::copy(second.begin(), second.end(), record.begin() + 15);
  return record;
}

Bytes Slice(const Bytes& bytes, size_t at, size_t length) {
  return Bytes(bytes.begin() + at, bytes.begin() + at + length);
}

using Detector = uint32_t (*)(const DatabaseImage&, File&, uint16_t*, uint16_t, DetectorState&);

struct Case {
  const char* name;
  std::vector<Bytes> records;
  uint32_t id;
  uint16_t flag;
};

class ComDetectorsTest : public ::testing::Test {
 protected:
  // Runs `detector` over `records` in `section` against `image`, from a fresh state whose
  // entry position is kUnsetEntry.
  uint32_t Run(Detector detector, int section, const std::vector<Bytes>& records,
               const Bytes& image) {
    DatabaseContent content;
    content.sections[section].records = records;
    signatures_ = DatabaseImage(*BuildSignatureImage(content));
    file_ = testing::OpenBytes(files_, image);
    state_ = DetectorState();
    state_.entry_position = kUnsetEntry;
    flag_ = testing::kUntouchedFlag;
    return detector(signatures_, *file_, &flag_, DirectoryOffset(section), state_);
  }

  void RunCases(Detector detector, int section, const Bytes& image,
                const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(Run(detector, section, c.records, image), c.id);
      EXPECT_EQ(flag_, c.flag);
    }
  }

  MemoryFileSystem files_;
  std::unique_ptr<File> file_;
  DatabaseImage signatures_;
  DetectorState state_;
  uint16_t flag_ = testing::kUntouchedFlag;
};

// ---- Tail detectors ----

constexpr size_t kTailFileSize = 1000;
const Bytes kTailCode = {0x02, 0x03};  // the ramp's bytes at offset 2

// A record whose confirmations hold the file's bytes at `first_at` and 16 + `gap` past it.
Bytes TailRecord(uint16_t id, uint16_t distance, size_t first_at, uint8_t gap) {
  const Bytes image = Ramp(kTailFileSize);
  return OffsetRecord(id, kTailCode, 2, distance, Slice(image, first_at, 6), gap,
                      Slice(image, first_at + 16 + gap, 2));
}

TEST_F(ComDetectorsTest, TailParagraphRoundsDownAndTailDoesNot) {
  const Bytes image = Ramp(kTailFileSize);
  // Distance 100 from a 1000-byte file: 896 for the paragraph detector, 900 for the other.
  const Bytes at_896 = TailRecord(61, 100, 896, 4);
  const Bytes at_900 = TailRecord(62, 100, 900, 4);
  RunCases(
      ScanTailParagraphSignatures, kComTailParagraphSection, image,
      {{"confirms at 896", {at_896}, 61, 0}, {"not at 900", {at_900}, 0, testing::kUntouchedFlag}});
  RunCases(
      ScanTailSignatures, kComTailSection, image,
      {{"confirms at 900", {at_900}, 62, 0}, {"not at 896", {at_896}, 0, testing::kUntouchedFlag}});
  EXPECT_EQ(Run(ScanTailSignatures, kComTailSection, {at_900}, image), 62u);
  EXPECT_EQ(state_.header_buffer, DetectorState().header_buffer) << "the state is left alone";
  EXPECT_EQ(state_.entry_code_buffer, DetectorState().entry_code_buffer);
  EXPECT_EQ(state_.entry_position, kUnsetEntry);
}

TEST_F(ComDetectorsTest, TailStages) {
  const Bytes image = Ramp(kTailFileSize);
  // 1000 − 104 = 896 is a multiple of 16: both detectors confirm there.
  const Bytes exact = TailRecord(71, 104, 896, 4);
  Bytes partial = exact;
  partial[2] = 72;
  partial[14] ^= 0xFF;  // second confirmation differs
  Bytes later_partial = partial;
  later_partial[2] = 73;
  Bytes code_differs = exact;
  code_differs[1] = 0x04;
  // Stage 2 at 976 reads 16 bytes; the gap then lies past the end. The second confirmation
  // equals what stage 2 left in the buffer, so only a failed read can refuse it.
  const Bytes stage3_past_end =
      OffsetRecord(74, kTailCode, 2, 24, Slice(image, 976, 6), 0xFF, Slice(image, 976, 2));
  // A distance of 0 reads nothing; all-zero confirmations would match the unread buffer.
  const Bytes distance_zero = OffsetRecord(75, kTailCode, 2, 0, Bytes(6, 0), 0, Bytes(2, 0));
  // A distance beyond the size reads from the start of the file.
  const Bytes before_start =
      OffsetRecord(76, kTailCode, 2, 0xFFFF, Slice(image, 0, 6), 3, Slice(image, 19, 2));
  struct TailDetector {
    Detector detector;
    int section;
  };
  for (auto [detector, section] :
       {TailDetector{ScanTailParagraphSignatures, kComTailParagraphSection},
        TailDetector{ScanTailSignatures, kComTailSection}}) {
    RunCases(detector, section, image,
             {
                 {"exact", {exact}, 71, 0},
                 {"partial", {partial}, 72, 1},
                 {"third read past the end", {stage3_past_end}, 74, 1},
                 {"code bytes differ", {code_differs}, 0, testing::kUntouchedFlag},
                 {"distance 0 reads nothing", {distance_zero}, 0, testing::kUntouchedFlag},
                 {"distance beyond the size", {before_start}, 76, 0},
                 {"partial, then exact", {partial, before_start}, 76, 0},
                 {"exact ends the walk", {before_start, partial}, 76, 0},
                 {"later partial replaces earlier", {partial, later_partial}, 73, 1},
                 {"empty section", {}, 0, testing::kUntouchedFlag},
             });
  }
  EXPECT_EQ(Run(ScanTailSignatures, kComTailSection, {distance_zero}, {}), 0u);
  EXPECT_EQ(Run(ScanTailParagraphSignatures, kComTailParagraphSection, {distance_zero}, {}), 0u);
  EXPECT_EQ(flag_, testing::kUntouchedFlag);
}

TEST_F(ComDetectorsTest, TailThirdReadStartsWhereTheSecondEnded) {
  const Bytes image = Ramp(kTailFileSize);
  // Every read delivers 8 bytes: stage 2 at 900 ends at 908, so a gap of 4 reads at 912.
  files_.SetShortReads(8);
  const Bytes record =
      OffsetRecord(81, kTailCode, 2, 100, Slice(image, 900, 6), 4, Slice(image, 912, 2));
  RunCases(ScanTailSignatures, kComTailSection, image, {{"short reads", {record}, 81, 0}});
  files_.ClearFaults();
  RunCases(ScanTailSignatures, kComTailSection, image, {{"full reads", {record}, 81, 1}});
}

// ---- COM entry ----

const Bytes kEntryCode = {0xB8, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
const Bytes kConfirm = {0xC1, 0xC2, 0xC3, 0xC4};

// kEntryCode at `entry`, kConfirm 0x20 past it, then bytes that a 16-byte read would bring.
Bytes EntryImage(ComBuilder builder, size_t entry) {
  return builder.Code(entry, kEntryCode)
      .Code(entry + 0x20, kConfirm)
      .Code(entry + 0x24, {0xDD, 0xDD, 0xDD, 0xDD})
      .Size(entry + 0x100)
      .Build();
}

TEST_F(ComDetectorsTest, ComEntryFollowsTheFirstInstruction) {
  struct EntryCase {
    const char* name;
    Bytes image;
    uint32_t entry;
  };
  const std::vector<EntryCase> cases = {
      {"E9 FD 0F", EntryImage(ComBuilder().Code(0, {0xE9, 0xFD, 0x0F}), 0x1000), 0x1000},
      {"EB 3C", EntryImage(ComBuilder().Code(0, {0xEB, 0x3C}), 0x3E), 0x3E},
      {"EB FF is unsigned", EntryImage(ComBuilder().JumpShort(0x101), 0x101), 0x101},
      {"E8 call", EntryImage(ComBuilder().CallNear(0x345), 0x345), 0x345},
      {"E9 near jump", EntryImage(ComBuilder().JumpNear(0x40), 0x40), 0x40},
  };
  for (const EntryCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Run(ScanComEntrySignatures, kComEntrySection,
                  {EntryRecord(101, kEntryCode, 0, 0x20, kConfirm)}, c.image),
              101u);
    EXPECT_EQ(flag_, 0);
    EXPECT_EQ(state_.entry_position, c.entry);
    EXPECT_EQ(state_.header_buffer[0], c.image[0]);
  }
  // E9 FF FF: 0xFFFF + 3 wraps to 2, so the code is read from the file's third byte on.
  const Bytes wrapped = ComBuilder().Code(0, {0xE9, 0xFF, 0xFF, 0x90, 0x91}).Size(0x40).Build();
  EXPECT_EQ(Run(ScanComEntrySignatures, kComEntrySection,
                {EntryRecord(102, {0xFF, 0x90, 0x91, 0, 0, 0, 0, 0}, 0, 0, {0xFF, 0x90, 0x91, 0})},
                wrapped),
            102u);
  EXPECT_EQ(state_.entry_position, 2u);
  // Any other first byte: the entry is the start and the code is the first 16 bytes.
  const Bytes plain = ComBuilder().Code(0, {0x90, 0x91, 0x92}).Size(0x40).Build();
  EXPECT_EQ(
      Run(ScanComEntrySignatures, kComEntrySection,
          {EntryRecord(103, {0x90, 0x91, 0x92, 0, 0, 0, 0, 0}, 0, 1, {0x91, 0x92, 0, 0})}, plain),
      103u);
  EXPECT_EQ(state_.entry_position, 0u);
}

TEST_F(ComDetectorsTest, ComEntryRecords) {
  const Bytes image = EntryImage(ComBuilder().JumpNear(0x200), 0x200);
  const Bytes exact = EntryRecord(111, kEntryCode, 0, 0x20, kConfirm);
  const Bytes partial = EntryRecord(112, kEntryCode, 0, 0x20, {0xC1, 0xC2, 0xC3, 0x00});
  const Bytes later_partial = EntryRecord(113, kEntryCode, 0, 0x21, kConfirm);
  RunCases(
      ScanComEntrySignatures, kComEntrySection, image,
      {
          {"exact", {exact}, 111, 0},
          {"partial", {partial}, 112, 1},
          {"entry bytes differ",
           {EntryRecord(114, {0xB8, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x78}, 0, 0x20, kConfirm)},
           0,
           testing::kUntouchedFlag},
          {"at a code offset",
           {EntryRecord(115, {0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0, 0}, 2, 0x20, kConfirm)},
           115,
           0},
          {"code offset misses",
           {EntryRecord(116, {0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0, 0}, 3, 0x20, kConfirm)},
           0,
           testing::kUntouchedFlag},
          {"partial, then exact", {partial, exact}, 111, 0},
          {"exact ends the walk", {exact, partial}, 111, 0},
          {"later partial replaces earlier", {partial, later_partial}, 113, 1},
      });
  // The position is set even when nothing matches.
  EXPECT_EQ(Run(ScanComEntrySignatures, kComEntrySection, {}, image), 0u);
  EXPECT_EQ(state_.entry_position, 0x200u);
  // The confirmation read brings 4 bytes and no more.
  EXPECT_EQ(Run(ScanComEntrySignatures, kComEntrySection, {exact}, image), 111u);
  EXPECT_EQ(state_.entry_code_buffer[21], 0xC4);
  EXPECT_EQ(state_.entry_code_buffer[22], 0x00);
}

TEST_F(ComDetectorsTest, ComEntryThatReadsNothing) {
  // All-zero records would match the untouched buffers if the failed reads were ignored.
  const Bytes zeros = EntryRecord(121, Bytes(8, 0), 0, 0, Bytes(4, 0));
  const Bytes past_end = ComBuilder().JumpNear(0x2000).Size(0x100).Build();
  RunCases(ScanComEntrySignatures, kComEntrySection, past_end,
           {{"entry past the end", {zeros}, 0, testing::kUntouchedFlag}});
  EXPECT_EQ(state_.entry_position, kUnsetEntry);
  RunCases(ScanComEntrySignatures, kComEntrySection, {},
           {{"empty file", {zeros}, 0, testing::kUntouchedFlag}});
  EXPECT_EQ(state_.entry_position, kUnsetEntry);
  // The confirmation 0xFF past an entry near the end reads nothing: partial only.
  const Bytes near_end = ComBuilder().Code(0, {0x90}).Size(0x20).Build();
  RunCases(ScanComEntrySignatures, kComEntrySection, near_end,
           {{"confirmation past the end",
             {EntryRecord(122, {0x90, 0, 0, 0, 0, 0, 0, 0}, 0, 0xFF, Bytes(4, 0))},
             122,
             1}});
  EXPECT_EQ(state_.entry_position, 0u);
}

// ---- File end ----

TEST_F(ComDetectorsTest, FileEndRecords) {
  const Bytes image = Ramp(200);  // the tail is bytes 120–199
  const Bytes second = Slice(image, 190, 3);
  const Bytes exact = EndRecord(131, 10, Slice(image, 130, 4), 10, second);
  const Bytes partial = EndRecord(132, 10, Slice(image, 130, 4), 11, second);
  const Bytes later_partial = EndRecord(133, 79, {199}, 9, second);
  RunCases(
      ScanFileEndSignatures, kComEndSection, image,
      {
          {"exact", {exact}, 131, 0},
          {"partial", {partial}, 132, 1},
          {"eight pattern bytes", {EndRecord(134, 72, Slice(image, 192, 8), 10, second)}, 134, 0},
          {"first pattern differs",
           {EndRecord(135, 10, {130, 131, 132, 134}, 10, second)},
           0,
           testing::kUntouchedFlag},
          {"offset one off",
           {EndRecord(136, 11, Slice(image, 130, 4), 10, second)},
           0,
           testing::kUntouchedFlag},
          {"n1 = 0 never matches",
           {EndRecord(137, 10, {}, 10, second, 0)},
           0,
           testing::kUntouchedFlag},
          {"n1 beyond 8 never matches",
           {EndRecord(138, 10, Slice(image, 130, 8), 10, second, 9)},
           0,
           testing::kUntouchedFlag},
          {"n2 = 0 fails the record", {EndRecord(139, 10, {130}, 10, second, -1, 0)}, 139, 1},
          {"only n2 bytes compared",
           {EndRecord(140, 10, {130}, 10, {190, 0, 0, 0}, -1, 1)},
           140,
           0},
          {"distance 0 reads nothing", {EndRecord(141, 10, {130}, 0, {0, 0})}, 141, 1},
          {"distance beyond the size", {EndRecord(142, 10, {130}, 0xFFFF, {0, 1, 2})}, 142, 0},
          {"partial, then exact", {partial, exact}, 131, 0},
          {"exact ends the walk", {exact, partial}, 131, 0},
          {"later partial replaces earlier", {partial, later_partial}, 133, 1},
      });
  EXPECT_EQ(Run(ScanFileEndSignatures, kComEndSection, {exact}, image), 131u);
  EXPECT_EQ(state_.entry_position, kUnsetEntry);
  EXPECT_EQ(Slice(Bytes(state_.entry_code_buffer.begin(), state_.entry_code_buffer.end()), 18, 4),
            (Bytes{190, 191, 192, 0}));  // n2 bytes read, no more
}

TEST_F(ComDetectorsTest, FileEndOfShortFiles) {
  const Bytes image = Ramp(40);  // the whole file is the tail, from offset 0
  RunCases(ScanFileEndSignatures, kComEndSection, image,
           {
               {"start of a 40-byte file", {EndRecord(151, 0, {0, 1, 2, 3}, 40, {0, 1})}, 151, 0},
               {"its last byte", {EndRecord(152, 39, {39}, 1, {39})}, 152, 0},
           });
  const Bytes eighty = Ramp(80);
  RunCases(ScanFileEndSignatures, kComEndSection, eighty,
           {{"80 bytes", {EndRecord(153, 0, {0, 1}, 80, {0})}, 153, 0}});
  const Bytes eighty_one = Ramp(81);
  RunCases(ScanFileEndSignatures, kComEndSection, eighty_one,
           {{"81 bytes start one in", {EndRecord(154, 0, {1, 2}, 81, {0})}, 154, 0},
            {"81 bytes miss the first",
             {EndRecord(155, 0, {0, 1}, 81, {0})},
             0,
             testing::kUntouchedFlag}});
  RunCases(ScanFileEndSignatures, kComEndSection, {},
           {{"empty file", {EndRecord(156, 0, {0}, 0, {0})}, 0, testing::kUntouchedFlag}});
}

}  // namespace
}  // namespace quarn
