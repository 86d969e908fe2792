#include "engine/heuristics.h"

#include <gtest/gtest.h>

#include <bit>
#include <initializer_list>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "engine/behaviour_mask.h"
#include "engine/skip_instruction.h"
#include "engine/test_support/executable_builder.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/open_bytes.h"
#include "platform/test_support/test_bytes.h"

namespace quarn {
namespace {

using testing::ComBuilder;
using testing::Join;
using testing::MzBuilder;

using Code = std::vector<uint8_t>;

const Code kInt21 = {0xCD, 0x21};
// Find first, find next, open, read, write, close: a plain file walker.
const Code kFileWalker = Join({{0xB4, 0x4E},
                               kInt21,
                               {0xB4, 0x4F},
                               kInt21,
                               {0xB4, 0x3D},
                               kInt21,
                               {0xB4, 0x3F},
                               kInt21,
                               {0xB4, 0x40},
                               kInt21,
                               {0xB4, 0x3E},
                               kInt21});
// The same walker opening for read and write and moving the file pointer: mask 0x0DF.
const Code kInfectingWalker = Join({{0xB4, 0x4E},
                                    kInt21,
                                    {0xB4, 0x4F},
                                    kInt21,
                                    {0xB8, 0x02, 0x3D},
                                    kInt21,
                                    {0xB4, 0x3F},
                                    kInt21,
                                    {0xB4, 0x42},
                                    kInt21,
                                    {0xB4, 0x40},
                                    kInt21,
                                    {0xB4, 0x3E},
                                    kInt21});
const Code kSetDta = {0xB4, 0x1A, 0xCD, 0x21};
const Code kCompareSiWithMz = {0x81, 0x3C, 0x4D, 0x5A};  // cmp word [si], 'MZ'

class HeuristicsTest : public ::testing::Test {
 protected:
  File& Open(const std::vector<uint8_t>& bytes) {
    file_ = testing::OpenBytes(files_, bytes);
    return *file_;
  }

  BehaviourMask MaskOf(const Code& code, uint32_t at = 0) {
    return CollectBehaviourMask(Open(ComBuilder().Code(at, code).Build()), at);
  }

  MemoryFileSystem files_;
  std::unique_ptr<File> file_;
  DatabaseImage unused_signatures_;
};

TEST_F(HeuristicsTest, ComEntryFollowsTheFirstJumpOrCall) {
  struct Case {
    const char* name;
    Code start;
    uint32_t entry;
  } cases[] = {
      {"short jump", {0xEB, 0x10}, 0x12},
      {"short jump backwards is read unsigned", {0xEB, 0xFE}, 0x100},
      {"near jump", {0xE9, 0x00, 0x01}, 0x103},
      {"near call", {0xE8, 0x34, 0x12}, 0x1237},
      {"backward near jump wraps to offset 0", {0xE9, 0xFD, 0xFF}, 0x0000},
      {"backward near jump far beyond a small file", {0xE9, 0xF0, 0xFF}, 0xFFF3},
      {"no jump", {0x90, 0xEB, 0x10}, 0},
      {"jump cut short by the end of the file", {0xE9}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::array<uint8_t, kComHeaderReadSize> buffer;
    buffer.fill(0xAA);
    uint32_t entry = 0xDEADBEEF;
    EXPECT_EQ(LocateComEntry(Open(c.start), buffer, &entry), 0);
    EXPECT_EQ(entry, c.entry);
    EXPECT_EQ(buffer[c.start.size()], 0) << "bytes the file did not fill must be cleared";
  }
}

TEST_F(HeuristicsTest, FunctionTablesSetTheirBits) {
  EXPECT_EQ(MaskOf(kFileWalker), 0x04C7);
  EXPECT_EQ(MaskOf(kInfectingWalker), 0x00DF);
  EXPECT_EQ(MaskOf({0xB8, 0x21, 0x25, 0xCD, 0x21}), kHooksDos);
  EXPECT_EQ(MaskOf({0xB8, 0x29, 0x12, 0xCD, 0x2F}), kReadsFile) << "DOS-internal read";
  EXPECT_EQ(MaskOf({0xB8, 0x01, 0x57, 0xB4, 0x2F}), kFileDateTime | kDiskTransferArea);
  EXPECT_EQ(MaskOf({0xB4, 0x4B, 0xB8, 0x00, 0x4B, 0xB4, 0x00}), 0) << "functions not listed";
  EXPECT_EQ(MaskOf({0xB0, 0x3F, 0xB9, 0x02, 0x3D}), 0) << "mov al and mov cx are not looked up";
}

TEST_F(HeuristicsTest, InfectionMarkerForms) {
  struct Case {
    const char* name;
    Code code;
    bool marker;
  } cases[] = {
      {"cmp word [si], MZ", {0x81, 0x3C, 0x4D, 0x5A}, true},
      {"cmp word [si], ZM", {0x81, 0x3C, 0x5A, 0x4D}, false},
      {"cmp word [si+8], MZ", {0x81, 0x7C, 0x08, 0x4D, 0x5A}, true},
      {"cmp word [si+0x100], MZ", {0x81, 0xBC, 0x00, 0x01, 0x4D, 0x5A}, true},
      {"cmp word [0x100], MZ", {0x81, 0x3E, 0x00, 0x01, 0x4D, 0x5A}, true},
      {"cmp word [bx+si], MZ: form not listed", {0x81, 0x38, 0x4D, 0x5A}, false},
      {"cmp word [si+8] with MZ one byte early", {0x81, 0x7C, 0x4D, 0x5A, 0x00}, false},
      {"cmp byte [si], E9", {0x80, 0x3C, 0xE9}, true},
      {"mov byte [si], E9", {0xC6, 0x04, 0xE9, 0x00, 0x00}, true},
      {"mov byte [bp+2], E9", {0xC6, 0x46, 0x02, 0xE9, 0x00}, true},
      {"mov byte [si+0x100], E9", {0xC6, 0x84, 0x00, 0x01, 0xE9}, true},
      {"cmp byte [0x100], E9", {0x80, 0x3E, 0x00, 0x01, 0xE9}, true},
      {"cmp byte [si], E8", {0x80, 0x3C, 0xE8}, false},
      {"mov byte [si], E9 by a form not listed (C6 06)", {0xC6, 0x06, 0x00, 0x01, 0xE9}, false},
      {"cmp ah, 4B", {0x80, 0xFC, 0x4B}, true},
      {"C6 FC 4B counts like cmp ah, 4B", {0xC6, 0xFC, 0x4B, 0x00, 0x00}, true},
      {"cmp ah, 4C", {0x80, 0xFC, 0x4C}, false},
      {"cmp ax, 4B00", {0x3D, 0x00, 0x4B}, true},
      {"cmp ax, 4B01", {0x3D, 0x01, 0x4B}, false},
      {"cmp al, 4B is not cmp ax", {0x3C, 0x4B, 0x00}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MaskOf(c.code), c.marker ? kTestsInfectionMarker : 0);
  }
}

TEST_F(HeuristicsTest, WalkCoversExactlyTheBytesOneReadDelivers) {
  const Code read_file = {0xB4, 0x3F};
  EXPECT_EQ(MaskOf(Join({Code(1790, 0x90), read_file})), kReadsFile) << "last two bytes read";
  EXPECT_EQ(MaskOf(Join({Code(1792, 0x90), read_file})), 0) << "first bytes beyond the read";
  // An operand beyond the read reads as cleared, never as the bytes that follow in the file.
  EXPECT_EQ(MaskOf(Join({Code(1791, 0x90), read_file})), 0);
}

// The walk's own stepping (calls and the two short jumps stepped over, everything else by the
// instruction stepper) must land on exactly the instructions the stepper names: a call of
// "read file" planted at a position the stepper reaches is seen, over random code.
TEST_F(HeuristicsTest, TheWalkLandsWhereTheInstructionStepperDoes) {
  std::mt19937 random(1995);
  for (int run = 0; run < 2000; ++run) {
    Code code(3 + random() % 1800);
    for (uint8_t& byte : code) {
      byte = static_cast<uint8_t>(random());
      // Opcodes whose operands set bits are kept out, so the planted one is the only bit.
      for (uint8_t looked_at : {0x81, 0x80, 0xC6, 0x3D, 0xB4, 0xB8}) {
        if (byte == looked_at) byte = 0x90;
      }
    }
    std::vector<uint32_t> landed;
    for (uint32_t p = 0; p + 2 < code.size() && p < 1790;) {
      landed.push_back(p);
      const uint8_t op = code[p];
      p += op == 0xE8                   ? 3
           : (op == 0xEB || op == 0x75) ? 2
                                        : InstructionStride(op, code[p + 1], code[p + 2]);
    }
    const uint32_t at = landed[random() % landed.size()];
    code[at] = 0xB4;
    code[at + 1] = 0x3F;
    EXPECT_EQ(CollectBehaviourMask(Open(code), 0), kReadsFile) << "run " << run << " at " << at;
  }
}

TEST_F(HeuristicsTest, EntryBeyondTheFileGivesAnEmptyMask) {
  File& file = Open(ComBuilder().Code(0, kInfectingWalker).Build());
  EXPECT_EQ(CollectBehaviourMask(file, 0xFFF3), 0);
  EXPECT_EQ(CollectBehaviourMask(file, 0xFFFFFFFF), 0);
  EXPECT_EQ(CollectBehaviourMask(file, 0), 0x00DF);
}

TEST_F(HeuristicsTest, MaskSetsDifferBetweenExecutablesAndOtherFiles) {
  EXPECT_TRUE(IsSuspiciousNonExecutableMask(0x0DF));
  EXPECT_FALSE(IsSuspiciousExecutableMask(0x0DF));
  EXPECT_TRUE(IsSuspiciousExecutableMask(0xADF));
  EXPECT_FALSE(IsSuspiciousNonExecutableMask(0xADF));
  for (BehaviourMask shared : {0x0BF, 0x8DF, 0xEFF}) {
    EXPECT_TRUE(IsSuspiciousExecutableMask(shared)) << shared;
    EXPECT_TRUE(IsSuspiciousNonExecutableMask(shared)) << shared;
  }
  // Exact membership: adding a bit to a member does not keep it suspicious.
  EXPECT_FALSE(IsSuspiciousExecutableMask(0xEFF | 0x1000));
  EXPECT_FALSE(IsSuspiciousNonExecutableMask(0x4C7));
  EXPECT_FALSE(IsSuspiciousExecutableMask(0));
  EXPECT_FALSE(IsSuspiciousNonExecutableMask(0));
  int executable_members = 0;
  int non_executable_members = 0;
  for (uint32_t mask = 1; mask <= 0xFFFF; ++mask) {
    executable_members += IsSuspiciousExecutableMask(static_cast<BehaviourMask>(mask));
    non_executable_members += IsSuspiciousNonExecutableMask(static_cast<BehaviourMask>(mask));
  }
  EXPECT_EQ(executable_members, 77);
  EXPECT_EQ(non_executable_members, 85);
}

// One instruction per bit, each setting exactly that bit.
const std::pair<BehaviourMask, Code> kBitCode[] = {
    {kReadsFile, {0xB4, 0x3F}},        {kClosesFile, {0xB4, 0x3E}},
    {kWritesFile, {0xB4, 0x40}},       {kOpensForWriting, {0xB8, 0x02, 0x3D}},
    {kMovesFilePointer, {0xB4, 0x42}}, {kFileDateTime, {0xB4, 0x57}},
    {kFindsFirst, {0xB4, 0x4E}},       {kFindsNext, {0xB4, 0x4F}},
    {kHooksDos, {0xB8, 0x21, 0x25}},   {kDiskTransferArea, {0xB4, 0x1A}},
    {kOpensFile, {0xB4, 0x3D}},        {kTestsInfectionMarker, kCompareSiWithMz},
};

Code CodeForMask(BehaviourMask mask) {
  Code code;
  for (const auto& [bit, instruction] : kBitCode) {
    if ((mask & bit) != 0) code = Join({code, instruction, kInt21});
  }
  code.push_back(0xC3);
  return code;
}

// The verdicts come from the cheap search first and the walk only when the search leaves a
// member possible: every member of either set, and the members with one bit taken away or
// added, must still be judged as the walk alone judges them.
TEST_F(HeuristicsTest, VerdictsMatchTheWalkForEveryMemberAndItsNeighbours) {
  int suspicious_executables = 0;
  int suspicious_others = 0;
  for (uint32_t member = 1; member <= 0xFFF; ++member) {
    if (!IsSuspiciousExecutableMask(static_cast<BehaviourMask>(member)) &&
        !IsSuspiciousNonExecutableMask(static_cast<BehaviourMask>(member))) {
      continue;
    }
    for (int flip = -1; flip < 12; flip += 5) {
      const auto mask = static_cast<BehaviourMask>(flip < 0 ? member : member ^ (1u << flip));
      const Code code = CodeForMask(mask);
      ASSERT_EQ(MaskOf(code), mask);
      const int executable = CheckExecutableHeuristics(
          unused_signatures_, Open(MzBuilder().EntryAt(0x40).Code(0x40, code).Build()));
      EXPECT_EQ(executable, IsSuspiciousExecutableMask(mask) ? 1 : 0) << std::hex << mask;
      const int other = CheckNonExecutableHeuristics(
          unused_signatures_, Open(ComBuilder().JumpNear(0x300).Code(0x300, code).Build()));
      EXPECT_EQ(other, IsSuspiciousNonExecutableMask(mask) ? 1 : 0) << std::hex << mask;
      suspicious_executables += executable;
      suspicious_others += other;
    }
  }
  EXPECT_GE(suspicious_executables, 77);
  EXPECT_GE(suspicious_others, 85);
}

// Code dense in what the walk looks at, some of it where the walk's instructions start and
// some inside other instructions, where only the search sees it.
TEST(BehaviourSearchTest, PossibleMaskHoldsEveryBitTheWalkFinds) {
  std::mt19937 random(20261206);
  const std::vector<Code> pieces = {{0xB4, 0x3F},
                                    {0xB4, 0x4E},
                                    {0xB4, 0x1A},
                                    {0xB4, 0x57},
                                    {0xB8, 0x02, 0x3D},
                                    {0xB8, 0x21, 0x25},
                                    {0xB8, 0x29, 0x12},
                                    kCompareSiWithMz,
                                    {0x80, 0xFC, 0x4B},
                                    {0x3D, 0x00, 0x4B},
                                    {0xE8},
                                    {0xEB},
                                    {0x75},
                                    {0x8B},
                                    {0xC7, 0x06},
                                    {0xCD, 0x21}};
  int walks_with_bits = 0;
  int bits_only_the_search_saw = 0;
  for (int run = 0; run < 10000; ++run) {
    EntryCode code;
    code.read = random() % 0x701;
    for (uint32_t p = 0; p < code.read;) {
      if (random() % 3 == 0) {
        code.bytes[p++] = static_cast<uint8_t>(random());
        continue;
      }
      for (uint8_t byte : pieces[random() % pieces.size()]) {
        if (p < code.read) code.bytes[p++] = byte;
      }
    }
    const BehaviourMask walked = WalkBehaviourMask(code);
    const BehaviourMask possible = PossibleBehaviourMask(code);
    ASSERT_EQ(walked & ~possible, 0)
        << "run " << run << ": walk " << std::hex << walked << ", search " << possible;
    walks_with_bits += std::popcount(walked) >= 4;
    bits_only_the_search_saw += (possible & ~walked & ~kTestsInfectionMarker) != 0;
  }
  // Both kinds of code must really have been made, or the check above proves little.
  EXPECT_GT(walks_with_bits, 2500);
  EXPECT_GT(bits_only_the_search_saw, 500);
}

TEST(BehaviourSearchTest, SearchStopsAtTheWalksLastPosition) {
  EntryCode code;
  code.read = 100;
  code.bytes[100] = 0xB4;  // the walk's last position: a byte it can look at
  code.bytes[101] = 0x3F;
  code.bytes[101 + 1] = 0xB4;  // past it: neither looks
  code.bytes[101 + 2] = 0x40;
  EXPECT_EQ(WalkBehaviourMask(code), kReadsFile);
  EXPECT_EQ(PossibleBehaviourMask(code), kReadsFile | kTestsInfectionMarker);
}

}  // namespace
}  // namespace quarn
