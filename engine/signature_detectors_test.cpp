#include "engine/signature_detectors.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/database_builder.h"
#include "engine/entry_locator.h"
#include "engine/section_directory.h"
#include "engine/test_support/executable_builder.h"
#include "engine/test_support/signature_record_bytes.h"
#include "platform/byte_reader.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/open_bytes.h"
#include "platform/test_support/test_bytes.h"

namespace quarn {
namespace {

using testing::EntryRecord;
using testing::MzBuilder;
using testing::OffsetRecord;
using testing::PatternRecord;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kEntry = 0x200;

using Detector = uint32_t (*)(const DatabaseImage&, File&, uint16_t*, uint16_t, DetectorState&);

struct Case {
  const char* name;
  std::vector<Bytes> records;
  uint32_t id;
  uint16_t flag;
};

class SignatureDetectorsTest : public ::testing::Test {
 protected:
  // Opens `image`, locates its entry code (or takes `entry` as it) and runs `detector` over
  // `records` in `section`.
  uint32_t Run(Detector detector, int section, const std::vector<Bytes>& records,
               const Bytes& image, std::optional<uint32_t> entry = std::nullopt) {
    DatabaseContent content;
    content.sections[section].records = records;
    signatures_ = DatabaseImage(*BuildSignatureImage(content));
    file_ = testing::OpenBytes(files_, image);
    File& file = *file_;
    state_ = DetectorState();
    if (entry) {
      state_.entry_position = *entry;
    } else {
      LocateEntryCode(file, state_);
    }
    flag_ = testing::kUntouchedFlag;
    return detector(signatures_, file, &flag_, DirectoryOffset(section), state_);
  }

  void RunCases(Detector detector, int section, const Bytes& image, const std::vector<Case>& cases,
                std::optional<uint32_t> entry = std::nullopt) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(Run(detector, section, c.records, image, entry), c.id);
      EXPECT_EQ(flag_, c.flag);
    }
  }

  MemoryFileSystem files_;
  std::unique_ptr<File> file_;
  DatabaseImage signatures_;
  DetectorState state_;
  uint16_t flag_ = testing::kUntouchedFlag;
};

// Entry code B8 01 02 … 07 at 0x200, confirmation C1 C2 C3 C4 at 0x240.
Bytes EntryImage() {
  return MzBuilder()
      .EntryAt(kEntry)
      .Code(kEntry, {0xB8, 1, 2, 3, 4, 5, 6, 7, 8, 9})
      .Code(kEntry + 0x40, {0xC1, 0xC2, 0xC3, 0xC4})
      .Size(0x300)
      .Build();
}

TEST_F(SignatureDetectorsTest, EntrySignatures) {
  const Bytes code = {0xB8, 1, 2, 3, 4, 5, 6, 7};
  const Bytes confirm = {0xC1, 0xC2, 0xC3, 0xC4};
  const Bytes exact = EntryRecord(11, code, 0, 0x40, confirm);
  const Bytes partial = EntryRecord(12, code, 0, 0x40, {0xC1, 0xC2, 0xC3, 0x00});
  const Bytes later_partial = EntryRecord(13, code, 0, 0x41, {0xC1, 0xC2, 0xC3, 0xC4});
  RunCases(ScanEntrySignatures, kExeEntrySection, EntryImage(),
           {
               {"exact", {exact}, 11, 0},
               {"partial", {partial}, 12, 1},
               {"entry bytes differ",
                {EntryRecord(14, {0xB8, 1, 2, 3, 4, 5, 6, 0}, 0, 0x40, confirm)},
                0,
                testing::kUntouchedFlag},
               {"at a code offset",
                {EntryRecord(15, {2, 3, 4, 5, 6, 7, 8, 9}, 2, 0x40, confirm)},
                15,
                0},
               {"code offset misses",
                {EntryRecord(16, {2, 3, 4, 5, 6, 7, 8, 9}, 1, 0x40, confirm)},
                0,
                testing::kUntouchedFlag},
               {"confirmation cut short by the file end",
                {EntryRecord(17, code, 0, 0xFF, confirm)},
                17,
                1},
               {"partial, then exact", {partial, exact}, 11, 0},
               {"exact ends the walk", {exact, partial}, 11, 0},
               {"later partial replaces earlier", {partial, later_partial}, 13, 1},
               {"empty section", {}, 0, testing::kUntouchedFlag},
           });
}

// Entry at 0x200; the first confirmation at 0x200 + 16 + 0x20, the second 4 bytes past the
// 16-byte read of the first, and 6 bytes of start-of-file marks at 0x100 and 0x110.
Bytes OffsetImage(const Bytes& entry_code) {
  return MzBuilder()
      .EntryAt(kEntry)
      .Code(kEntry, entry_code)
      .Code(0x230, {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6})
      .Code(0x244, {0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6})
      .Code(0x100, {0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6})
      .Code(0x110, {0xE1, 0xE2})
      .Size(0x300)
      .Build();
}

const Bytes kFirst = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
const Bytes kSecond = {0xB1, 0xB2};

TEST_F(SignatureDetectorsTest, ForwardSignatures) {
  const Bytes image = OffsetImage({0x50, 0x51, 0x52});
  RunCases(ScanForwardSignatures, kExeForwardSection, image,
           {
               {"exact", {OffsetRecord(21, {0x50, 0x51}, 0, 0x20, kFirst, 4, kSecond)}, 21, 0},
               {"at a code offset",
                {OffsetRecord(22, {0x51, 0x52}, 1, 0x20, kFirst, 4, kSecond)},
                22,
                0},
               {"second confirmation differs",
                {OffsetRecord(23, {0x50, 0x51}, 0, 0x20, kFirst, 5, kSecond)},
                23,
                1},
               {"second read past the end",
                {OffsetRecord(24, {0x50, 0x51}, 0, 0x20, kFirst, 0xFF, kSecond)},
                24,
                1},
               {"code bytes differ",
                {OffsetRecord(25, {0x50, 0x50}, 0, 0x20, kFirst, 4, kSecond)},
                0,
                testing::kUntouchedFlag},
               {"first confirmation differs",
                {OffsetRecord(26, {0x50, 0x51}, 0, 0x21, kFirst, 4, kSecond)},
                0,
                testing::kUntouchedFlag},
               // The second record's first read lies past the end of the file: the bytes the
               // first record's second read left in the scratch are compared instead.
               {"stale scratch",
                {OffsetRecord(27, {0x50, 0x51}, 0, 0x20, kFirst, 5, kSecond),
                 OffsetRecord(28, {0x50, 0x51}, 0, 0xFFFF, {0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0x00}, 0,
                              kSecond)},
                28,
                1},
           });
}

TEST_F(SignatureDetectorsTest, CallSignatures) {
  const Bytes any_code = {0x00, 0x00};  // no code filter for this detector
  const Bytes exact = OffsetRecord(31, any_code, 0, 0x20, kFirst, 4, kSecond);
  RunCases(ScanCallSignatures, kExeCallSection, OffsetImage({0xE8, 0x00, 0x00, 0x5D}),
           {
               {"exact", {exact}, 31, 0},
               {"partial", {OffsetRecord(32, any_code, 0, 0x20, kFirst, 3, kSecond)}, 32, 1},
               {"near miss",
                {OffsetRecord(33, any_code, 0, 0x1F, kFirst, 4, kSecond)},
                0,
                testing::kUntouchedFlag},
           });
  // The detector reads the file's first 16 bytes over the header buffer, and no more.
  EXPECT_EQ(Run(ScanCallSignatures, kExeCallSection, {exact}, OffsetImage({0xE8, 0x00}), kEntry),
            0u);  // the entry code was not located, so it is no call
  EXPECT_EQ(ReadU16(state_.header_buffer, 0), 0x5A4D);
  LocateEntryCode(*file_, state_);
  state_.header_buffer.fill(0xEE);
  EXPECT_EQ(
      ScanCallSignatures(signatures_, *file_, &flag_, DirectoryOffset(kExeCallSection), state_),
      31u);
  EXPECT_EQ(ReadU16(state_.header_buffer, 0), 0x5A4D);
  EXPECT_EQ(state_.header_buffer[16], 0xEE);

  RunCases(ScanCallSignatures, kExeCallSection, OffsetImage({0xE8, 0x01, 0x00, 0x5D}),
           {{"not a call to the next instruction", {exact}, 0, testing::kUntouchedFlag}});
}

TEST_F(SignatureDetectorsTest, BackwardSignatures) {
  const Bytes code = {0x50, 0x51};
  const Bytes image = OffsetImage({0x50, 0x51});
  const Bytes start(image.begin(), image.begin() + 6);
  RunCases(ScanBackwardSignatures, kExeBackwardSection, image,
           {
               {"exact",
                {OffsetRecord(41, code, 0, 0x100, {0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6}, 0x10,
                              {0xE1, 0xE2})},
                41,
                0},
               {"partial",
                {OffsetRecord(42, code, 0, 0x100, {0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6}, 0x11,
                              {0xE1, 0xE2})},
                42,
                1},
               {"code bytes differ",
                {OffsetRecord(43, {0x51, 0x51}, 0, 0x100, {0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6},
                              0x10, {0xE1, 0xE2})},
                0,
                testing::kUntouchedFlag},
               {"distance equal to the entry",
                {OffsetRecord(44, code, 0, kEntry, start, 0, {0x4D, 0x5A})},
                44,
                0},
               {"distance beyond the entry",
                {OffsetRecord(45, code, 0, kEntry + 1, start, 0, {0x4D, 0x5A})},
                0,
                testing::kUntouchedFlag},
           });

  // An entry past the end: the first read delivers nothing, and the record fails even though
  // the scratch still holds bytes that would match.
  DatabaseContent content;
  content.sections[kExeBackwardSection].records = {
      OffsetRecord(46, code, 0, 0x100, {0, 0, 0, 0, 0, 0}, 0, {0, 0})};
  signatures_ = DatabaseImage(*BuildSignatureImage(content));
  state_ = DetectorState();
  state_.entry_code_buffer[0] = 0x50;
  state_.entry_code_buffer[1] = 0x51;
  state_.entry_position = 0x10000;
  flag_ = testing::kUntouchedFlag;
  EXPECT_EQ(ScanBackwardSignatures(signatures_, *testing::OpenBytes(files_, image), &flag_,
                                   DirectoryOffset(kExeBackwardSection), state_),
            0u);
  EXPECT_EQ(flag_, testing::kUntouchedFlag);
}

// 11 AA 22 BB 33 at the entry, and the file ends 10 bytes after it.
Bytes PatternImage() {
  Bytes image = MzBuilder()
                    .EntryAt(kEntry)
                    .Code(kEntry, {0x11, 0xAA, 0x22, 0xBB, 0x33, 0x11, 0x44, 0x11, 0x22, 0x55})
                    .Build();
  image.resize(kEntry + 10);
  return image;
}

TEST_F(SignatureDetectorsTest, OrderedSubsequenceSearch) {
  const Bytes pattern = {0x11, 0x22, 0x33};
  RunCases(ScanPatternSignatures, kExePatternSection, PatternImage(),
           {
               {"bytes skipped between pattern bytes", {PatternRecord(51, pattern, 5, 0)}, 51, 0},
               {"window one short", {PatternRecord(52, pattern, 4, 0)}, 0, testing::kUntouchedFlag},
               {"window 0", {PatternRecord(53, {0x11}, 0, 0)}, 0, testing::kUntouchedFlag},
               {"window larger than the area", {PatternRecord(54, {0x33, 0x55}, 200, 0)}, 54, 0},
               {"nothing beyond the area",
                {PatternRecord(55, {0x55, 0x00}, 200, 0)},
                0,
                testing::kUntouchedFlag},
               // k is not reset by 0x11 0x44: 11 … 22 … 33 … 44 in order.
               {"k never reset", {PatternRecord(56, {0x11, 0x22, 0x33, 0x44}, 255, 0)}, 56, 0},
               {"out of order",
                {PatternRecord(57, {0x33, 0x22, 0x11, 0x11, 0x11}, 255, 0)},
                0,
                testing::kUntouchedFlag},
               {"start of the file", {PatternRecord(58, {0x4D, 0x5A}, 2, 1)}, 58, 0},
               {"entry area has no MZ",
                {PatternRecord(59, {0x4D, 0x5A}, 255, 0)},
                0,
                testing::kUntouchedFlag},
               {"first match ends the walk",
                {PatternRecord(60, {0x22}, 3, 0), PatternRecord(61, {0x11}, 1, 0)},
                60,
                0},
           });
  // The entry and the header end both lie past the end of the file: nothing is searched.
  EXPECT_EQ(Run(ScanPatternSignatures, kExePatternSection, {PatternRecord(62, {0x4D}, 1, 1)},
                MzBuilder().HeaderParagraphs(0x40).InitialIp(0x10).Size(0x100).Build()),
            0u);
}

// 2024-03-05 13:47:58 UTC, in nanoseconds since 1970.
constexpr FileTime kWriteTime = (1709646478LL) * 1000000000LL + 999;

TEST_F(SignatureDetectorsTest, DosTimeOfTheLastWrite) {
  EXPECT_EQ(DosTimeFromFileTime(kWriteTime), (13 << 11) | (47 << 5) | 29);
  EXPECT_EQ(DosTimeFromFileTime(kWriteTime + 1000000000LL), (13 << 11) | (47 << 5) | 29);
  EXPECT_EQ(DosTimeFromFileTime(kWriteTime + 2000000000LL), (13 << 11) | (48 << 5) | 0);
  EXPECT_EQ(DosTimeFromFileTime(-1), (23 << 11) | (59 << 5) | 29);  // before 1970
  EXPECT_EQ(TimeStampedVirusId(0x001F), 101u);
  EXPECT_EQ(TimeStampedVirusId(0xFFFF), 101u);
  EXPECT_EQ(TimeStampedVirusId(0x001E), 90u);
  EXPECT_EQ(TimeStampedVirusId(0x0020), 90u);
}

TEST_F(SignatureDetectorsTest, PatternConfirmedAtTheFileStart) {
  const Bytes record = PatternRecord(220, {0x11, 0x22}, 3, 0);
  const Bytes fallback = PatternRecord(63, {0x11}, 1, 0);
  Bytes confirmed = PatternImage();
  confirmed[3] = 0x01;
  confirmed[7] = 0x01;
  confirmed[8] = 0xC3;
  // Bytes 3, 7 and 8 are DOS header fields (8 the header size), so the entry is given.
  RunCases(ScanPatternSignatures, kExePatternSection, confirmed,
           {{"confirmed", {record, fallback}, 220, 0}}, kEntry);
  EXPECT_EQ(state_.entry_code_buffer[0], 0x4D);  // the file's start was read over the code
  for (int byte : {3, 7, 8}) {
    Bytes unconfirmed = confirmed;
    unconfirmed[byte] = 0x02;
    RunCases(ScanPatternSignatures, kExePatternSection, unconfirmed,
             {{"walk goes on", {record, fallback}, 63, 0},
              {"nothing after", {record}, 0, testing::kUntouchedFlag}},
             kEntry);
  }
}

}  // namespace
}  // namespace quarn
