#include "sysarea/boot_detectors.h"

#include "engine/detector_chain.h"
#include "engine/section_directory.h"
#include "engine/section_walk.h"
#include "engine/signature_records.h"
#include "engine/skip_instruction.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

// Sector pattern record (sections 14 and 15).
constexpr int kSectorPatternField = 0;
constexpr size_t kSectorPatternLength = 8;
constexpr int kSectorPatternOffsetField = 8;
constexpr int kSectorPatternIdField = 10;
constexpr int kSectorConfirmOffsetField = 12;
constexpr int kSectorConfirmField = 14;
constexpr size_t kSectorConfirmLength = 4;
constexpr int kFollowJumpField = 18;  // section 14 only

// Subsequence record (section 16).
constexpr int kSubsequenceIdField = 0;
constexpr int kSubsequenceRequiredField = 2;
constexpr int kSubsequenceBytesField = 4;
constexpr uint16_t kSubsequenceMaxBytes = 12;
constexpr uint32_t kSubsequenceWindow = 100;

constexpr uint8_t kShortJump = 0xEB;
constexpr uint8_t kNearJump = 0xE9;

constexpr uint32_t kTraceWindow = 30;
constexpr uint32_t kHeuristicInstructionsWithRegisters = 30;
constexpr uint32_t kHeuristicLastStart = 510;

// BIOS data area word that holds the size of DOS memory in KB: lowering it hides a resident
// virus from DOS.
constexpr uint16_t kMemorySizeWord = 0x0413;

// Register numbers as the MOV-immediate opcodes encode them: B0 + r loads the low byte of
// register r, B4 + r its high byte, B8 + r the whole word; B8 + kSp loads SP.
enum RegisterNumber : int { kAx = 0, kCx = 1, kDx = 2, kBx = 3, kSp = 4 };

struct Registers {
  uint16_t word[5] = {};

  uint16_t ax() const { return word[kAx]; }
  uint16_t cx() const { return word[kCx]; }
  uint16_t dx() const { return word[kDx]; }
  uint16_t bx() const { return word[kBx]; }
  uint16_t sp() const { return word[kSp]; }
  uint8_t ah() const { return static_cast<uint8_t>(ax() >> 8); }
  uint8_t ch() const { return static_cast<uint8_t>(cx() >> 8); }
  uint8_t dh() const { return static_cast<uint8_t>(dx() >> 8); }
  uint8_t dl() const { return static_cast<uint8_t>(dx()); }
};

// Reads one byte of loader code; bytes past the sector read as zero, as the stepper sees
// them.
uint8_t CodeByte(SectorView sector, uint64_t at) {
  return ReadU8(sector, at);
}

uint16_t CodeWord(SectorView sector, uint64_t at) {
  return static_cast<uint16_t>(CodeByte(sector, at) | (CodeByte(sector, at + 1) << 8));
}

// Applies a register load of AX, BX, CX or DX at `at`; `with_sp` also takes BC (mov sp).
// True when the instruction was one of them.
bool ApplyRegisterLoad(SectorView sector, uint64_t at, Registers& registers, bool with_sp) {
  const uint8_t opcode = CodeByte(sector, at);
  if (opcode < 0xB0 || opcode > 0xBC) return false;
  const int number = opcode & 3;
  if (opcode <= 0xB3) {
    registers.word[number] =
        static_cast<uint16_t>((registers.word[number] & 0xFF00) | CodeByte(sector, at + 1));
  } else if (opcode <= 0xB7) {
    registers.word[number] =
        static_cast<uint16_t>((registers.word[number] & 0x00FF) | (CodeByte(sector, at + 1) << 8));
  } else if (opcode <= 0xBB) {
    registers.word[number] = CodeWord(sector, at + 1);
  } else if (with_sp) {
    registers.word[kSp] = CodeWord(sector, at + 1);
  } else {
    return false;
  }
  return true;
}

// The disk read a loader sets up to fetch the sector a virus saved: three sectors to
// `buffer`, from the last track of a 40- or 80-track floppy's second side, or from the
// hard disk's first track at `hard_disk_cx`.
bool SetsUpSavedSectorRead(const Registers& r, uint16_t buffer, uint16_t hard_disk_cx) {
  if (r.ax() != 0x0203 || r.bx() != buffer) return false;
  if (r.dx() == 0x0100 && (r.ch() == 0x4F || r.ch() == 0x27)) return true;
  return r.dx() == 0x0080 && r.cx() == hard_disk_cx;
}

uint32_t PatternA(const Registers& r) {
  return SetsUpSavedSectorRead(r, 0x7C00, 0x0003) ? kBootLoaderCopyToBootAreaId : 0;
}

uint32_t PatternB(const Registers& r) {
  return SetsUpSavedSectorRead(r, 0x7E00, 0x000D) ? kBootLoaderCopyPastBootAreaId : 0;
}

uint32_t ReportExact(uint32_t id, uint16_t* variant_flag) {
  if (id != 0) *variant_flag = 0;
  return id;
}

bool BiosDiskRead(const Registers& r) {
  return r.ax() >= 0x0201 && r.ah() == 2 && r.bx() >= 0x7C00 && r.dh() <= 1 && r.dl() == 0 &&
         r.cx() != 0;
}

using SectorDetector = uint32_t (*)(const DatabaseImage&, SectorView, uint16_t*);

uint32_t BootPatterns(const DatabaseImage& signatures, SectorView sector, uint16_t* flag) {
  return MatchSectorPatterns(signatures, sector, flag, DirectoryOffset(kBootPatternSection));
}

uint32_t MbrPatterns(const DatabaseImage& signatures, SectorView sector, uint16_t* flag) {
  return MatchSectorPatterns(signatures, sector, flag, DirectoryOffset(kMbrPatternSection));
}

uint32_t MbrSubsequences(const DatabaseImage& signatures, SectorView sector, uint16_t* flag) {
  return MatchSectorSubsequence(signatures, sector, flag, DirectoryOffset(kMbrSubsequenceSection));
}

uint32_t Tracer(const DatabaseImage&, SectorView sector, uint16_t* flag) {
  return TraceBootLoader(sector, flag);
}

uint32_t RunSectorChain(std::span<const SectorDetector> chain, const DatabaseImage& signatures,
                        SectorView sector, uint16_t* variant_flag) {
  uint32_t result = 0;
  uint16_t flag = 0;
  for (SectorDetector detector : chain) {
    if (!ChainOpen(result, flag)) break;
    result = detector(signatures, sector, &flag);
  }
  *variant_flag = ChainVariantFlag(result, flag);
  return result;
}

}  // namespace

uint32_t FollowEntryJump(SectorView sector) {
  if (sector[0] == kShortJump) return 2u + sector[1];
  if (sector[0] == kNearJump) return 3u + ReadU16(sector, 1);
  return 0;
}

uint32_t MatchSectorPatterns(const DatabaseImage& signatures, SectorView sector,
                             uint16_t* variant_flag, uint16_t directory_offset) {
  const bool has_follow_jump = directory_offset == DirectoryOffset(kBootPatternSection);
  const uint8_t record_size = has_follow_jump ? kBootPatternRecordSize : kMbrPatternRecordSize;
  const uint64_t code_start = FollowEntryJump(sector);
  DetectorMatch match;
  for (SectionWalk walk(signatures, directory_offset, record_size); !walk.AtEnd(); walk.Next()) {
    std::span<const uint8_t> record = walk.Record();
    const uint64_t base = has_follow_jump && record[kFollowJumpField] != 0 ? code_start : 0;
    if (!BytesEqual(sector, base + ReadU16(record, kSectorPatternOffsetField),
                    record.data() + kSectorPatternField, kSectorPatternLength)) {
      continue;
    }
    match.partial = ReadU16(record, kSectorPatternIdField);
    if (BytesEqual(sector, base + ReadU16(record, kSectorConfirmOffsetField),
                   record.data() + kSectorConfirmField, kSectorConfirmLength)) {
      match.exact = match.partial;
      break;
    }
  }
  return match.Report(variant_flag);
}

uint32_t MatchSectorSubsequence(const DatabaseImage& signatures, SectorView sector,
                                uint16_t* variant_flag, uint16_t directory_offset) {
  for (SectionWalk walk(signatures, directory_offset, kSubsequenceRecordSize); !walk.AtEnd();
       walk.Next()) {
    std::span<const uint8_t> record = walk.Record();
    const uint16_t required = ReadU16(record, kSubsequenceRequiredField);
    if (required == 0 || required > kSubsequenceMaxBytes) continue;
    const uint8_t* pattern = record.data() + kSubsequenceBytesField;
    uint16_t found = 0;
    for (uint32_t at = 0; at < kSubsequenceWindow; ++at) {
      if (sector[at] != pattern[found]) continue;
      if (++found == required)
        return ReportExact(ReadU16(record, kSubsequenceIdField), variant_flag);
    }
  }
  return 0;
}

uint32_t TraceBootLoader(SectorView sector, uint16_t* variant_flag) {
  const uint32_t start = FollowEntryJump(sector);
  Registers registers;
  for (uint32_t at = start; at <= start + kTraceWindow; SkipInstruction(sector, &at)) {
    const uint8_t opcode = CodeByte(sector, at);
    const uint8_t next = CodeByte(sector, at + 1);
    if (opcode == 0xCD && next == 0x13) {
      uint32_t id = PatternA(registers);
      if (id == 0) id = PatternB(registers);
      return ReportExact(id, variant_flag);
    }
    if (opcode == 0xFF && next == 0x1E) return ReportExact(PatternB(registers), variant_flag);
    if (opcode == 0x8B && next == 0xDC) {
      registers.word[kBx] = registers.sp();
    } else {
      ApplyRegisterLoad(sector, at, registers, /*with_sp=*/true);
    }
  }
  return 0;
}

uint32_t DetectMbrVirus(const DatabaseImage& signatures, SectorView sector,
                        uint16_t* variant_flag) {
  static constexpr SectorDetector kChain[] = {MbrPatterns, MbrSubsequences, Tracer};
  return RunSectorChain(kChain, signatures, sector, variant_flag);
}

uint32_t DetectBootSectorVirus(const DatabaseImage& signatures, SectorView sector,
                               uint16_t* variant_flag) {
  static constexpr SectorDetector kChain[] = {BootPatterns, Tracer};
  return RunSectorChain(kChain, signatures, sector, variant_flag);
}

int CheckBootHeuristics(const DatabaseImage& /*signatures*/, SectorView sector) {
  Registers registers;
  bool memory_size_read = false;
  int relocation_stage = 0;
  uint32_t count = 0;
  for (uint32_t at = FollowEntryJump(sector); at <= kHeuristicLastStart;
       SkipInstruction(sector, &at)) {
    const uint8_t opcode = CodeByte(sector, at);
    const uint8_t second = CodeByte(sector, at + 1);
    if (++count <= kHeuristicInstructionsWithRegisters) {
      if (opcode == 0xCD && second == 0x13) {
        if (BiosDiskRead(registers)) return 1;
        continue;
      }
      ApplyRegisterLoad(sector, at, registers, /*with_sp=*/false);
    }
    const bool word_after_opcode = opcode == 0xA1 || opcode == 0xA3;
    const uint16_t operand = CodeWord(sector, at + (word_after_opcode ? 1 : 2));
    const bool touches_memory_size = operand == kMemorySizeWord;
    if (opcode == 0xA1 && touches_memory_size) memory_size_read = true;
    if (opcode == 0xA3 && touches_memory_size && memory_size_read) return 1;
    const bool lowers_memory_size = (opcode == 0x83 && second == 0x2E) || opcode == 0x29 ||
                                    (opcode == 0xFF && second == 0x0E) ||
                                    (opcode == 0xC6 && second == 0x06);
    if (lowers_memory_size && touches_memory_size) return 1;
    if (opcode == 0xB1 && second == 0x06 && relocation_stage == 0) relocation_stage = 1;
    if (opcode == 0xD3 && second == 0xE0 && relocation_stage == 1) relocation_stage = 2;
    if (opcode == 0xCB && relocation_stage == 2) return 1;
  }
  return 0;
}

}  // namespace quarn
