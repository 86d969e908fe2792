#include "sysarea/boot_detectors.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <vector>

#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

// A 512-byte sector, zero unless written.
class Sector {
 public:
  Sector& At(size_t offset, std::initializer_list<uint8_t> bytes) {
    for (uint8_t byte : bytes) bytes_.at(offset++) = byte;
    return *this;
  }
  Sector& Fill(size_t from, size_t to, uint8_t byte) {
    for (size_t i = from; i < to; ++i) bytes_.at(i) = byte;
    return *this;
  }
  SectorView view() const { return SectorView(bytes_); }

 private:
  std::array<uint8_t, kSectorSize> bytes_{};
};

struct SectorPattern {
  std::vector<uint8_t> pattern;  // 8 bytes
  uint16_t offset = 0;
  uint16_t id = 0;
  uint16_t confirm_offset = 0;
  std::vector<uint8_t> confirm;  // 4 bytes
};

std::vector<uint8_t> MbrPatternRecord(const SectorPattern& p) {
  std::vector<uint8_t> record(kMbrPatternRecordSize, 0);
  std::copy(p.pattern.begin(), p.pattern.end(), record.begin());
  WriteU16(&record[8], p.offset);
  WriteU16(&record[10], p.id);
  WriteU16(&record[12], p.confirm_offset);
  std::copy(p.confirm.begin(), p.confirm.end(), record.begin() + 14);
  return record;
}

std::vector<uint8_t> BootPatternRecord(const SectorPattern& p, bool follow_jump) {
  std::vector<uint8_t> record = MbrPatternRecord(p);
  record.push_back(follow_jump ? 1 : 0);
  return record;
}

std::vector<uint8_t> SubsequenceRecord(uint16_t id, uint16_t required,
                                       std::vector<uint8_t> pattern) {
  std::vector<uint8_t> record(kSubsequenceRecordSize, 0);
  WriteU16(&record[0], id);
  WriteU16(&record[2], required);
  std::copy(pattern.begin(), pattern.end(), record.begin() + 4);
  return record;
}

DatabaseImage Image(const DatabaseContent& content) {
  return DatabaseImage(*BuildSignatureImage(content));
}

const std::vector<uint8_t> kPatternBytes = {0xFA, 0x33, 0xC0, 0x8E, 0xD0, 0xBC, 0x00, 0x7C};
const std::vector<uint8_t> kConfirmBytes = {0xCD, 0x13, 0x72, 0xFE};

// The sector kPatternBytes at `at` and kConfirmBytes at `confirm_at`.
Sector SectorWithPattern(size_t at, size_t confirm_at) {
  Sector sector;
  sector.At(at, {0xFA, 0x33, 0xC0, 0x8E, 0xD0, 0xBC, 0x00, 0x7C});
  sector.At(confirm_at, {0xCD, 0x13, 0x72, 0xFE});
  return sector;
}

TEST(FollowEntryJump, TakesShortAndNearJumpsOnly) {
  EXPECT_EQ(FollowEntryJump(Sector().At(0, {0xEB, 0x3C, 0x90}).view()), 0x3Eu);
  EXPECT_EQ(FollowEntryJump(Sector().At(0, {0xEB, 0xFE}).view()), 0x100u) << "unsigned byte";
  EXPECT_EQ(FollowEntryJump(Sector().At(0, {0xE9, 0x00, 0x01}).view()), 0x103u);
  EXPECT_EQ(FollowEntryJump(Sector().At(0, {0xE9, 0xFF, 0xFF}).view()), 0x10002u);
  EXPECT_EQ(FollowEntryJump(Sector().At(0, {0xEA, 0x05, 0x00}).view()), 0u);
}

TEST(MatchSectorPatterns, ExactPartialAndNothingInMasterBootRecords) {
  DatabaseContent content;
  auto& records = content.sections[kMbrPatternSection].records;
  records.push_back(MbrPatternRecord({kPatternBytes, 0x40, 11, 0x80, {1, 2, 3, 4}}));
  records.push_back(MbrPatternRecord({kPatternBytes, 0x40, 12, 0x80, {5, 6, 7, 8}}));
  records.push_back(MbrPatternRecord({kPatternBytes, 0x40, 13, 0x80, kConfirmBytes}));
  records.push_back(MbrPatternRecord({kPatternBytes, 0x40, 14, 0x80, kConfirmBytes}));
  const DatabaseImage image = Image(content);
  const uint16_t section = DirectoryOffset(kMbrPatternSection);

  uint16_t flag = 1;
  EXPECT_EQ(MatchSectorPatterns(image, SectorWithPattern(0x40, 0x80).view(), &flag, section), 13u)
      << "the first exact match ends the walk; 18-byte steps reach the third record";
  EXPECT_EQ(flag, 0);

  flag = 0;
  EXPECT_EQ(MatchSectorPatterns(image, SectorWithPattern(0x40, 0x90).view(), &flag, section), 14u)
      << "the last partial match wins";
  EXPECT_EQ(flag, 1);

  for (uint16_t before : {0, 1}) {
    flag = before;
    EXPECT_EQ(MatchSectorPatterns(image, SectorWithPattern(0x41, 0x80).view(), &flag, section), 0u);
    EXPECT_EQ(flag, before) << "nothing found leaves the flag alone";
  }
}

TEST(MatchSectorPatterns, BootRecordsCountFromTheEntryJumpWhenFlagged) {
  // The loader starts at 0x3E; the pattern lies 0x10 and the confirmation 0x20 into it.
  Sector sector = SectorWithPattern(0x4E, 0x5E);
  sector.At(0, {0xEB, 0x3C});
  const SectorPattern from_entry{kPatternBytes, 0x10, 21, 0x20, kConfirmBytes};
  const SectorPattern from_start{kPatternBytes, 0x4E, 22, 0x5E, kConfirmBytes};
  const uint16_t section = DirectoryOffset(kBootPatternSection);

  DatabaseContent unflagged;
  unflagged.sections[kBootPatternSection].records = {BootPatternRecord(from_entry, false),
                                                     BootPatternRecord(from_start, false)};
  uint16_t flag = 1;
  EXPECT_EQ(MatchSectorPatterns(Image(unflagged), sector.view(), &flag, section), 22u);
  EXPECT_EQ(flag, 0);

  DatabaseContent flagged;
  flagged.sections[kBootPatternSection].records = {BootPatternRecord(from_entry, true)};
  flag = 1;
  EXPECT_EQ(MatchSectorPatterns(Image(flagged), sector.view(), &flag, section), 21u);
  EXPECT_EQ(flag, 0);

  // The same 18 bytes in the master boot record section never follow the jump.
  DatabaseContent mbr;
  mbr.sections[kMbrPatternSection].records = {MbrPatternRecord(from_entry)};
  flag = 1;
  EXPECT_EQ(
      MatchSectorPatterns(Image(mbr), sector.view(), &flag, DirectoryOffset(kMbrPatternSection)),
      0u);
}

TEST(MatchSectorPatterns, BytesPastTheSectorNeverMatch) {
  // Zero pattern bytes would match the zeros a read past the sector might deliver.
  const std::vector<uint8_t> zeros(8, 0);
  DatabaseContent content;
  content.sections[kBootPatternSection].records = {
      BootPatternRecord({zeros, 0x1F9, 31, 0, {0, 0, 0, 0}}, false),
      BootPatternRecord({zeros, 0x1F8, 32, 0x1FD, {0, 0, 0, 0}}, false),
      BootPatternRecord({zeros, 0xFFFF, 33, 0, {0, 0, 0, 0}}, true),
  };
  const DatabaseImage image = Image(content);
  uint16_t flag = 0;
  EXPECT_EQ(
      MatchSectorPatterns(image, Sector().view(), &flag, DirectoryOffset(kBootPatternSection)), 32u)
      << "the pattern of 32 fits, its confirmation does not";
  EXPECT_EQ(flag, 1);

  // A loader that starts past the sector puts every flagged offset past it too.
  DatabaseContent at_entry;
  at_entry.sections[kBootPatternSection].records = {
      BootPatternRecord({zeros, 0, 34, 0, {0, 0, 0, 0}}, true)};
  for (uint8_t high : {0x01, 0xFF}) {
    Sector sector;
    sector.At(0, {0xE9, 0xF0, high});  // 0x1F3: the 8 bytes still fit; 0xFFF3 is far past
    flag = 0;
    EXPECT_EQ(MatchSectorPatterns(Image(at_entry), sector.view(), &flag,
                                  DirectoryOffset(kBootPatternSection)),
              high == 0x01 ? 34u : 0u)
        << "the entry at 0x" << std::hex << FollowEntryJump(sector.view());
  }
}

TEST(MatchSectorSubsequence, CountsBytesInOrderWithinTheFirstHundred) {
  const uint16_t section = DirectoryOffset(kMbrSubsequenceSection);
  Sector sector;
  sector.At(3, {0xAA}).At(10, {0xBB}).At(50, {0xCC}).At(99, {0xDD}).At(100, {0xEE});
  struct Case {
    uint16_t required;
    std::vector<uint8_t> pattern;
    uint32_t expected;
  } cases[] = {
      {4, {0xAA, 0xBB, 0xCC, 0xDD}, 7},
      {3, {0xAA, 0xBB, 0xCC, 0x11}, 7},        // only the required bytes count
      {5, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE}, 0},  // byte 100 lies outside
      {2, {0xBB, 0xAA}, 0},                    // out of order
      {2, {0xAA, 0xAA}, 0},                    // a byte is used once
      {0, {}, 0},                              // a record that requires nothing
      {12, std::vector<uint8_t>(12, 0), 7},    // zeros fill the rest of the window
      {13, std::vector<uint8_t>(12, 0), 0},    // more than the record holds
      {0xFFFF, std::vector<uint8_t>(12, 0), 0},
  };
  for (const Case& c : cases) {
    DatabaseContent content;
    content.sections[kMbrSubsequenceSection].records = {
        SubsequenceRecord(7, c.required, c.pattern)};
    uint16_t flag = 1;
    EXPECT_EQ(MatchSectorSubsequence(Image(content), sector.view(), &flag, section), c.expected)
        << "required " << c.required;
    EXPECT_EQ(flag, c.expected != 0 ? 0 : 1);
  }
}

TEST(MatchSectorSubsequence, EachRecordStartsAgainAndTheFirstMatchWins) {
  Sector sector;
  sector.At(0, {1, 2, 3});
  DatabaseContent content;
  content.sections[kMbrSubsequenceSection].records = {SubsequenceRecord(41, 3, {1, 2, 9}),
                                                      SubsequenceRecord(42, 2, {2, 3}),
                                                      SubsequenceRecord(43, 1, {1})};
  uint16_t flag = 0;
  EXPECT_EQ(MatchSectorSubsequence(Image(content), sector.view(), &flag,
                                   DirectoryOffset(kMbrSubsequenceSection)),
            42u);
}

using Code = std::vector<uint8_t>;

Code operator+(Code code, const Code& more) {
  code.insert(code.end(), more.begin(), more.end());
  return code;
}

// The instructions of a loader that reads the sector a virus moved aside.
const Code kReadThree = {0xB8, 0x03, 0x02};      // mov ax,0203h
const Code kTo7C00 = {0xBB, 0x00, 0x7C};         // mov bx,7C00h
const Code kTo7E00 = {0xBB, 0x00, 0x7E};         // mov bx,7E00h
const Code kTrack79 = {0xB5, 0x4F};              // mov ch,4Fh
const Code kFloppyHead1 = {0xBA, 0x00, 0x01};    // mov dx,0100h
const Code kHardDisk = {0xBA, 0x80, 0x00};       // mov dx,0080h
const Code kInt13 = {0xCD, 0x13};                // int 13h
const Code kFarCall = {0xFF, 0x1E, 0x4C, 0x00};  // call far [004Ch]

// Loader code after a short jump over 0x3C bytes of disk parameters.
Sector Loader(const Code& code) {
  Sector sector;
  sector.At(0, {0xEB, 0x3C, 0x90});
  for (size_t i = 0; i < code.size(); ++i) sector.At(0x3E + i, {code[i]});
  return sector;
}

TEST(TraceBootLoader, RecognisesTheTwoSavedSectorReads) {
  const Code cx3 = {0xB9, 0x03, 0x00};
  const Code cx13 = {0xB9, 0x0D, 0x00};
  struct Case {
    const char* what;
    Code code;
    uint32_t expected;
  } cases[] = {
      {"A, 80 tracks", kReadThree + kTo7C00 + kTrack79 + kFloppyHead1 + kInt13, 846},
      {"A, 40 tracks, byte loads",
       Code{0xB4, 0x02, 0xB0, 0x03, 0xB7, 0x7C, 0xB5, 0x27, 0xB6, 0x01} + kInt13, 846},
      {"A, hard disk, BX from SP",
       Code{0xBC, 0x00, 0x7C, 0x8B, 0xDC} + kReadThree + cx3 + Code{0xB2, 0x80} + kInt13, 846},
      {"B, hard disk", kReadThree + kTo7E00 + cx13 + kHardDisk + kInt13, 847},
      {"B, far call", kReadThree + kTo7E00 + kTrack79 + kFloppyHead1 + kFarCall, 847},
      {"A's registers at a far call", kReadThree + kTo7C00 + kTrack79 + kFloppyHead1 + kFarCall, 0},
      {"track 78", kReadThree + kTo7C00 + Code{0xB5, 0x4E} + kFloppyHead1 + kInt13, 0},
      {"A's buffer, B's sector", kReadThree + kTo7C00 + cx13 + kHardDisk + kInt13, 0},
      {"ends at the first disk call",
       kInt13 + kReadThree + kTo7C00 + kTrack79 + kFloppyHead1 + kInt13, 0},
  };
  for (const Case& c : cases) {
    uint16_t flag = 1;
    EXPECT_EQ(TraceBootLoader(Loader(c.code).view(), &flag), c.expected) << c.what;
    EXPECT_EQ(flag, c.expected != 0 ? 0 : 1) << c.what;
  }
}

TEST(TraceBootLoader, LooksNoFurtherThanThirtyBytesPastTheStart) {
  const Code setup = kReadThree + kTo7C00 + kTrack79 + kFloppyHead1;  // 11 bytes
  for (size_t nops : {19u, 20u}) {
    uint16_t flag = 0;
    EXPECT_EQ(TraceBootLoader(Loader(setup + Code(nops, 0x90) + kInt13).view(), &flag),
              nops == 19 ? 846u : 0u)
        << "INT 13h at byte " << 11 + nops;
  }
}

TEST(DetectorChains, APartialMatchStandsOnlyUntilALaterDetectorAnswers) {
  DatabaseContent content;
  content.sections[kMbrPatternSection].records = {
      MbrPatternRecord({kPatternBytes, 0x40, 51, 0x80, kConfirmBytes})};
  content.sections[kMbrSubsequenceSection].records = {SubsequenceRecord(52, 2, {0xFA, 0x33})};
  content.sections[kBootPatternSection].records = {
      BootPatternRecord({kPatternBytes, 0x40, 53, 0x80, kConfirmBytes}, false)};
  const DatabaseImage image = Image(content);
  const Sector partial = SectorWithPattern(0x40, 0x90);
  const Sector exact = SectorWithPattern(0x40, 0x80);
  const Sector traced = Loader(kReadThree + kTo7C00 + kTrack79 + kFloppyHead1 + kInt13);
  struct Case {
    const char* what;
    decltype(&DetectMbrVirus) detect;
    const Sector& sector;
    uint32_t expected;
  } cases[] = {
      {"boot, partial, then the tracer's 0", DetectBootSectorVirus, partial, 0},
      {"boot, exact", DetectBootSectorVirus, exact, 53},
      {"boot, traced", DetectBootSectorVirus, traced, 846},
      {"mbr, exact stops the chain", DetectMbrVirus, exact, 51},
      {"mbr, partial, then a subsequence", DetectMbrVirus, partial, 52},
      {"mbr, traced", DetectMbrVirus, traced, 846},
  };
  for (const Case& c : cases) {
    uint16_t flag = 1;
    EXPECT_EQ(c.detect(image, c.sector.view(), &flag), c.expected) << c.what;
    EXPECT_EQ(flag, 0) << c.what;
  }
}

int Heuristics(const Sector& sector) {
  return CheckBootHeuristics(DatabaseImage(), sector.view());
}

const Code kReadOne = {0xB8, 0x01, 0x02};  // mov ax,0201h
const Code kCx1 = {0xB9, 0x01, 0x00};      // mov cx,0001h

TEST(CheckBootHeuristics, EachTriggerAndItsNearMiss) {
  struct Case {
    const char* what;
    Sector sector;
    int expected;
  } cases[] = {
      {"empty sector", Sector(), 0},
      {"boot area read", Loader(kReadOne + kTo7C00 + kCx1 + kFloppyHead1 + kInt13), 1},
      {"read from the hard disk", Loader(kReadOne + kTo7C00 + kCx1 + kHardDisk + kInt13), 0},
      {"read below 7C00", Loader(kReadOne + Code{0xBB, 0xFF, 0x7B} + kCx1 + kInt13), 0},
      {"read with CX 0", Loader(kReadOne + kTo7C00 + kInt13), 0},
      {"head 2", Loader(kReadOne + kTo7C00 + kCx1 + Code{0xB6, 0x02} + kInt13), 0},
      {"memory size read then written", Loader({0xA1, 0x13, 0x04, 0x48, 0xA3, 0x13, 0x04}), 1},
      {"memory size written only", Loader({0xA3, 0x13, 0x04}), 0},
      {"memory size read, other word written", Loader({0xA1, 0x13, 0x04, 0xA3, 0x15, 0x04}), 0},
      {"sub word immediate", Loader({0x83, 0x2E, 0x13, 0x04, 0x02}), 1},
      {"sub register", Loader({0x29, 0x06, 0x13, 0x04}), 1},
      {"dec word", Loader({0xFF, 0x0E, 0x13, 0x04}), 1},
      {"mov byte", Loader({0xC6, 0x06, 0x13, 0x04, 0x7E}), 1},
      {"sub from another word", Loader({0x83, 0x2E, 0x15, 0x04, 0x02}), 0},
      {"relocation", Loader({0xB1, 0x06, 0xD3, 0xE0, 0x50, 0xCB}), 1},
      {"relocation out of order", Loader({0xD3, 0xE0, 0xB1, 0x06, 0xCB}), 0},
      {"far return without shift", Loader({0xB1, 0x06, 0xCB}), 0},
      {"code before the entry is not run",
       Sector().At(0, {0xE9, 0x10, 0x00}).At(3, {0x83, 0x2E, 0x13, 0x04, 0x02}), 0},
  };
  for (Case& c : cases) EXPECT_EQ(Heuristics(c.sector), c.expected) << c.what;
}

TEST(CheckBootHeuristics, RegistersCountOnlyForTheFirstThirtyInstructions) {
  // The loads are instructions 1 to 3; INT 13h is instruction 30, then 31.
  for (size_t nops : {26u, 27u}) {
    Sector sector;
    sector.At(0, {0xB8, 0x01, 0x02, 0xBB, 0x00, 0x7C, 0xB9, 0x01, 0x00});
    sector.Fill(9, 9 + nops, 0x90).At(9 + nops, {0xCD, 0x13});
    EXPECT_EQ(Heuristics(sector), nops == 26 ? 1 : 0) << nops;
  }
}

TEST(CheckBootHeuristics, TheLastInstructionMayStartAtByte510) {
  for (size_t far_return_at : {510u, 511u}) {
    Sector sector;
    sector.Fill(0, kSectorSize, 0x90).At(0, {0xB1, 0x06, 0xD3, 0xE0}).At(far_return_at, {0xCB});
    EXPECT_EQ(Heuristics(sector), far_return_at == 510 ? 1 : 0) << far_return_at;
  }
}

}  // namespace
}  // namespace quarn
