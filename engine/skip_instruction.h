#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/byte_reader.h"

namespace quarn {

// How many bytes the stepper moves over the 16-bit instruction whose first bytes are
// b0 b1 b2: its length, or the distance to the target of a forward short jump (EB, 75) or a
// forward near call (E8). The opcode sets are the scanner's own and differ from the
// processor's lengths on purpose (C6 is 5 bytes, F6/F7 carry no immediate, and so on).
inline uint32_t InstructionStride(uint8_t b0, uint8_t b1, uint8_t b2);

// Moves `*position` over one instruction of `code`. Bytes past the end of `code` read as
// zero, so nothing outside the buffer is read; the new position may lie past the end, and
// callers check it against their buffer. Result always 0.
inline int SkipInstruction(std::span<const uint8_t> code, uint32_t* position);

// Defined here so that the heuristic walk and the tracers, which step once per byte or
// two, get them inlined.

namespace skip_instruction_detail {

// The stride as tables, so that stepping over code costs no branch on its bytes: which way a
// branch on an opcode goes is as good as random. `length` is an opcode's length without its
// operand's displacement; `modrm` is all ones when a ModRM byte follows, whose displacement
// `kModRmExtras` gives; `jump` marks the opcodes whose stride is a distance.
enum class Jump : uint8_t { kNone, kShort, kNearCall };

struct StepTables {
  std::array<uint8_t, 256> length{};
  std::array<uint8_t, 256> modrm{};
  std::array<Jump, 256> jump{};
};

constexpr StepTables BuildStepTables() {
  StepTables tables;
  tables.length.fill(1);
  constexpr uint8_t kFixed2[] = {0x04, 0x0C, 0x14, 0x1C, 0x24, 0x2C, 0x34, 0x3C, 0x6A, 0x70, 0x71,
                                 0x72, 0x73, 0x74, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D,
                                 0x7E, 0x7F, 0xA8, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7,
                                 0xCD, 0xD4, 0xD5, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
                                 0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7};
  constexpr uint8_t kFixed3[] = {0x05, 0x0D, 0x15, 0x1D, 0x25, 0x2D, 0x35, 0x3D, 0x68,
                                 0xA0, 0xA1, 0xA2, 0xA3, 0xA9, 0xB8, 0xB9, 0xBA, 0xBB,
                                 0xBC, 0xBD, 0xBE, 0xBF, 0xC2, 0xCA, 0xE9};
  constexpr uint8_t kFixed4[] = {0x62, 0x8F, 0xC4, 0xC5, 0xC8};
  constexpr uint8_t kFixed5[] = {0x9A, 0xC6, 0xEA};
  constexpr uint8_t kModRm2[] = {0x00, 0x01, 0x02, 0x03, 0x08, 0x09, 0x0A, 0x0B, 0x10, 0x11, 0x12,
                                 0x13, 0x18, 0x19, 0x1A, 0x1B, 0x20, 0x21, 0x22, 0x23, 0x28, 0x29,
                                 0x2A, 0x2B, 0x30, 0x31, 0x32, 0x33, 0x38, 0x39, 0x3A, 0x3B, 0x6B,
                                 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E,
                                 0xD0, 0xD1, 0xD2, 0xD3, 0xF6, 0xF7, 0xFE, 0xFF};
  constexpr uint8_t kModRm3[] = {0x69, 0x80, 0x82, 0x83, 0xC0, 0xC1};
  constexpr uint8_t kModRm4[] = {0x81, 0xC7};
  for (uint8_t op : kFixed2) tables.length[op] = 2;
  for (uint8_t op : kFixed3) tables.length[op] = 3;
  for (uint8_t op : kFixed4) tables.length[op] = 4;
  for (uint8_t op : kFixed5) tables.length[op] = 5;
  for (uint8_t op : kModRm2) tables.length[op] = 2, tables.modrm[op] = 0xFF;
  for (uint8_t op : kModRm3) tables.length[op] = 3, tables.modrm[op] = 0xFF;
  for (uint8_t op : kModRm4) tables.length[op] = 4, tables.modrm[op] = 0xFF;
  tables.jump[0x75] = Jump::kShort;
  tables.jump[0xEB] = Jump::kShort;
  tables.jump[0xE8] = Jump::kNearCall;
  return tables;
}

// Extra bytes of a 16-bit ModRM operand: a displacement of 0, 1 or 2 bytes.
constexpr uint32_t ModRmExtra(uint8_t modrm) {
  uint8_t mod = modrm >> 6;
  uint8_t rm = modrm & 7;
  switch (mod) {
    case 0:
      return rm == 6 ? 2 : 0;
    case 1:
      return 1;
    case 2:
      return 2;
    default:
      return 0;
  }
}

constexpr std::array<uint8_t, 256> BuildModRmExtras() {
  std::array<uint8_t, 256> extras{};
  for (int modrm = 0; modrm < 256; ++modrm) {
    extras[modrm] = static_cast<uint8_t>(ModRmExtra(static_cast<uint8_t>(modrm)));
  }
  return extras;
}

inline constexpr StepTables kStepTables = BuildStepTables();
inline constexpr std::array<uint8_t, 256> kModRmExtras = BuildModRmExtras();

}  // namespace skip_instruction_detail

inline uint32_t InstructionStride(uint8_t b0, uint8_t b1, uint8_t b2) {
  using namespace skip_instruction_detail;
  if (kStepTables.jump[b0] != Jump::kNone) {
    if (kStepTables.jump[b0] == Jump::kShort) return b1 < 0x80 ? b1 + 2u : 2u;
    uint32_t displacement = static_cast<uint32_t>(b1) | (static_cast<uint32_t>(b2) << 8);
    return displacement < 0x8000 ? displacement + 3 : 3;
  }
  return kStepTables.length[b0] + (kStepTables.modrm[b0] & kModRmExtras[b1]);
}

inline int SkipInstruction(std::span<const uint8_t> code, uint32_t* position) {
  uint64_t at = *position;
  *position += InstructionStride(ReadU8(code, at), ReadU8(code, at + 1), ReadU8(code, at + 2));
  return 0;
}

}  // namespace quarn
