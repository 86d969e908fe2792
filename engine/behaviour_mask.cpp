#include "engine/behaviour_mask.h"

#include <cstring>
#include <span>
#include <tuple>

#include "engine/skip_instruction.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

constexpr uint32_t kCodeReadSize = 0x700;

struct FunctionBit {
  uint16_t function;
  BehaviourMask bit;
};

// mov ah, imm8 (B4 xx).
constexpr FunctionBit kAhFunctions[] = {
    {0x3F, kReadsFile},    {0x3E, kClosesFile},       {0x40, kWritesFile},
    {0x3D, kOpensFile},    {0x42, kMovesFilePointer}, {0x4E, kFindsFirst},
    {0x4F, kFindsNext},    {0x1A, kDiskTransferArea}, {0x2F, kDiskTransferArea},
    {0x57, kFileDateTime},
};

// mov ax, imm16 (B8 lo hi): DOS services with their subfunction, and the DOS-internal
// services of interrupt 2Fh function 12h.
constexpr FunctionBit kAxFunctions[] = {
    {0x3D02, kOpensForWriting},  {0x3D92, kOpensForWriting},  {0x3D80, kOpensForWriting},
    {0x3D12, kOpensForWriting},  {0x4200, kMovesFilePointer}, {0x4000, kWritesFile},
    {0x3E00, kClosesFile},       {0x3F00, kReadsFile},        {0x5701, kFileDateTime},
    {0x1201, kClosesFile},       {0x1226, kOpensForWriting},  {0x1227, kClosesFile},
    {0x1228, kMovesFilePointer}, {0x1229, kReadsFile},        {0x1216, kOpensForWriting},
    {0x1220, kOpensForWriting},  {0x2521, kHooksDos},
};

// A comparison or store whose operand, `offset` bytes from the opcode, is the marker an
// infector looks for: "MZ" as a word or an E9 jump opcode as a byte.
struct MarkerForm {
  uint8_t opcode;
  uint8_t modrm;
  uint8_t offset;
};

constexpr uint16_t kExeMagic = 0x5A4D;  // "MZ"
constexpr uint8_t kJumpNearOpcode = 0xE9;

constexpr MarkerForm kWordMarkerForms[] = {
    {0x81, 0xBC, 4}, {0x81, 0xBD, 4}, {0x81, 0xBF, 4}, {0x81, 0x3E, 4},
    {0x81, 0xBE, 4}, {0x81, 0x3C, 2}, {0x81, 0x3D, 2}, {0x81, 0x3F, 2},
    {0x81, 0x7C, 3}, {0x81, 0x7D, 3}, {0x81, 0x7F, 3}, {0x81, 0x7E, 3},
};

constexpr MarkerForm kByteMarkerForms[] = {
    {0x80, 0xBC, 4}, {0x80, 0xBD, 4}, {0x80, 0xBF, 4}, {0x80, 0x3E, 4}, {0xC6, 0x84, 4},
    {0xC6, 0x85, 4}, {0xC6, 0x86, 4}, {0xC6, 0x87, 4}, {0x80, 0xBE, 4}, {0x80, 0x3C, 2},
    {0x80, 0x3D, 2}, {0xC6, 0x04, 2}, {0xC6, 0x05, 2}, {0xC6, 0x07, 2}, {0x80, 0x3F, 2},
    {0x80, 0x7C, 3}, {0x80, 0x7D, 3}, {0x80, 0x7F, 3}, {0xC6, 0x44, 3}, {0xC6, 0x45, 3},
    {0xC6, 0x47, 3}, {0xC6, 0x46, 3}, {0x80, 0x7E, 3},
};

const MarkerForm* FindForm(std::span<const MarkerForm> forms, uint8_t opcode, uint8_t modrm) {
  for (const MarkerForm& form : forms) {
    if (form.opcode == opcode && form.modrm == modrm) return &form;
  }
  return nullptr;
}

BehaviourMask LookUp(std::span<const FunctionBit> table, uint16_t function) {
  for (const FunctionBit& entry : table) {
    if (entry.function == function) return entry.bit;
  }
  return 0;
}

bool WordMarkerAt(std::span<const uint8_t> code, uint32_t p) {
  const MarkerForm* form = FindForm(kWordMarkerForms, code[p], ReadU8(code, p + 1));
  return form != nullptr && ReadU16(code, p + form->offset) == kExeMagic;
}

bool ByteMarkerAt(std::span<const uint8_t> code, uint32_t p) {
  // cmp ah, 4Bh: a test for the program-execute call the infector is about to hook.
  if (ReadU8(code, p + 1) == 0xFC && ReadU8(code, p + 2) == 0x4B) return true;
  const MarkerForm* form = FindForm(kByteMarkerForms, code[p], ReadU8(code, p + 1));
  return form != nullptr && ReadU8(code, p + form->offset) == kJumpNearOpcode;
}

}  // namespace

int LocateComEntry(File& file, std::array<uint8_t, kComHeaderReadSize>& buffer,
                   uint32_t* entry_position) {
  buffer.fill(0);
  ReadAt(file, 0, buffer.data(), kComHeaderReadSize);
  switch (buffer[0]) {
    case 0xEB:
      *entry_position = buffer[1] + 2u;
      break;
    case 0xE9:
    case 0xE8:
      *entry_position = (ReadU16(buffer, 1) + 3u) % 0x10000u;
      break;
    default:
      *entry_position = 0;
      break;
  }
  return 0;
}

namespace {

// The walk's stride, the instruction stepper's without its one branch: a base length per
// opcode, plus the stepper's ModRM displacement for the opcodes that carry one. The walk steps
// over calls (E8, 3 bytes) and the two short jumps (EB, 75, 2 bytes) instead of following
// them.
struct WalkStrides {
  std::array<uint8_t, 256> base{};
  std::array<bool, 256> looked_at{};  // opcodes whose operands say something about behaviour
};

constexpr WalkStrides BuildWalkStrides() {
  using skip_instruction_detail::Jump;
  using skip_instruction_detail::kStepTables;
  WalkStrides strides;
  for (int op = 0; op < 256; ++op) {
    switch (kStepTables.jump[op]) {
      case Jump::kNone:
        strides.base[op] = kStepTables.length[op];
        break;
      case Jump::kShort:
        strides.base[op] = 2;
        break;
      case Jump::kNearCall:
        strides.base[op] = 3;
        break;
    }
  }
  for (uint8_t op : {0x81, 0x80, 0xC6, 0x3D, 0xB4, 0xB8}) strides.looked_at[op] = true;
  return strides;
}

constexpr WalkStrides kWalk = BuildWalkStrides();

}  // namespace

EntryCode ReadEntryCode(File& file, uint32_t entry_position) {
  // The walk reads at most a few bytes past a position that never passes the bytes read, so
  // with this much cleared room behind them it can index the buffer without bound checks.
  static_assert(std::tuple_size_v<decltype(EntryCode::bytes)> >= kCodeReadSize + 8);
  EntryCode code;
  code.read = ReadAt(file, entry_position, code.bytes.data(), kCodeReadSize);
  return code;
}

BehaviourMask WalkBehaviourMask(const EntryCode& entry_code) {
  // It steps once per instruction over up to 1792 bytes, for every file the cheaper
  // PossibleBehaviourMask does not settle.
  const std::span<const uint8_t> code(entry_code.bytes);
  const uint8_t* bytes = entry_code.bytes.data();
  BehaviourMask mask = 0;
  uint32_t p = 0;
  while (p <= entry_code.read) {
    const uint8_t op = bytes[p];
    if (kWalk.looked_at[op]) {
      switch (op) {
        case 0x81:
          if (WordMarkerAt(code, p)) mask |= kTestsInfectionMarker;
          break;
        case 0x80:
        case 0xC6:
          if (ByteMarkerAt(code, p)) mask |= kTestsInfectionMarker;
          break;
        case 0x3D:  // cmp ax, 4B00h
          if (ReadU16(code, p + 1) == 0x4B00) mask |= kTestsInfectionMarker;
          break;
        case 0xB4:
          mask |= LookUp(kAhFunctions, bytes[p + 1]);
          break;
        default:  // 0xB8
          mask |= LookUp(kAxFunctions, ReadU16(code, p + 1));
          break;
      }
    }
    p += kWalk.base[op] + (skip_instruction_detail::kModRmExtras[bytes[p + 1]] &
                           skip_instruction_detail::kStepTables.modrm[op]);
  }
  return mask;
}

BehaviourMask PossibleBehaviourMask(const EntryCode& entry_code) {
  const std::span<const uint8_t> code(entry_code.bytes);
  // The walk looks at positions 0 to `read`, both included, so the search does too.
  const uint8_t* const begin = entry_code.bytes.data();
  const uint8_t* const end = begin + entry_code.read + 1;
  BehaviourMask mask = kTestsInfectionMarker;
  for (const uint8_t* at = begin;
       (at = static_cast<const uint8_t*>(std::memchr(at, 0xB4, end - at))) != nullptr; ++at) {
    mask |= LookUp(kAhFunctions, at[1]);
  }
  for (const uint8_t* at = begin;
       (at = static_cast<const uint8_t*>(std::memchr(at, 0xB8, end - at))) != nullptr; ++at) {
    mask |= LookUp(kAxFunctions, ReadU16(code, at - begin + 1));
  }
  return mask;
}

BehaviourMask CollectBehaviourMask(File& file, uint32_t entry_position) {
  return WalkBehaviourMask(ReadEntryCode(file, entry_position));
}

}  // namespace quarn
