#include "engine/skip_instruction.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace quarn {
namespace {

uint32_t Step(std::vector<uint8_t> code) {
  uint32_t position = 0;
  SkipInstruction(code, &position);
  return position;
}

TEST(SkipInstruction, HandWorkedInstructions) {
  EXPECT_EQ(Step({0xEB, 0x05}), 7u);          // forward short jump followed
  EXPECT_EQ(Step({0xEB, 0xFB}), 2u);          // backward short jump stepped over
  EXPECT_EQ(Step({0xE8, 0x00, 0x01}), 259u);  // forward near call followed
  EXPECT_EQ(Step({0xE8, 0x00, 0xFF}), 3u);    // backward near call stepped over
  EXPECT_EQ(Step({0x8B, 0x46}), 3u);          // mod 1: one displacement byte
  EXPECT_EQ(Step({0x8B, 0x06}), 4u);          // mod 0, rm 6: direct address
  EXPECT_EQ(Step({0x81, 0xC3}), 4u);          // mod 3: register operand
  EXPECT_EQ(Step({0x90}), 1u);
}

TEST(SkipInstruction, JumpBoundaries) {
  EXPECT_EQ(Step({0x75, 0x7F}), 0x81u);  // largest forward conditional jump
  EXPECT_EQ(Step({0x75, 0x80}), 2u);
  EXPECT_EQ(Step({0x74, 0x10}), 2u);        // other conditional jumps are never followed
  EXPECT_EQ(Step({0xE9, 0x00, 0x10}), 3u);  // near jumps are never followed
  EXPECT_EQ(Step({0xE8, 0xFF, 0x7F}), 0x7FFFu + 3);
  EXPECT_EQ(Step({0xE8, 0x00, 0x80}), 3u);
  EXPECT_EQ(Step({0xEB, 0x00}), 2u);
}

TEST(SkipInstruction, LengthsThatDifferFromTheProcessor) {
  EXPECT_EQ(Step({0xC6, 0x06}), 5u);  // no ModRM decoding for C6
  EXPECT_EQ(Step({0xF6, 0xC0}), 2u);  // no immediate for F6/F7
  EXPECT_EQ(Step({0xF7, 0x46}), 3u);
  EXPECT_EQ(Step({0x62, 0x46}), 4u);  // 62, 8F, C4, C5 carry no ModRM
  EXPECT_EQ(Step({0x8F, 0x06}), 4u);
  EXPECT_EQ(Step({0xD8, 0x06}), 2u);  // escape opcodes are 2 bytes whatever follows
  EXPECT_EQ(Step({0x0F, 0x84}), 1u);  // not in any set
  EXPECT_EQ(Step({0xC1, 0x86}), 5u);  // ModRM base 3 with mod 2
  EXPECT_EQ(Step({0xC7, 0x06}), 6u);  // ModRM base 4 with a direct address
  EXPECT_EQ(Step({0x00, 0x45}), 3u);  // opcode 00 is an instruction, not padding
}

// Counting how many opcodes give each stride checks the membership of every set at once:
// with a register operand (mod 3) the ModRM sets add nothing, with mod 2 they add two.
TEST(SkipInstruction, SetSizes) {
  std::map<uint32_t, int> register_form;
  std::map<uint32_t, int> displacement_form;
  for (int op = 0; op < 256; ++op) {
    if (op == 0xE8) continue;  // its stride depends on the following word
    ++register_form[InstructionStride(static_cast<uint8_t>(op), 0xC0, 0)];
    ++displacement_form[InstructionStride(static_cast<uint8_t>(op), 0x80, 0)];
  }
  // stride 2: 52 fixed, 52 ModRM base 2, and the two short jumps taken backwards
  EXPECT_EQ(register_form[2], 106);
  EXPECT_EQ(register_form[3], 25 + 6);
  EXPECT_EQ(register_form[4], 5 + 2);
  EXPECT_EQ(register_form[5], 3);
  EXPECT_EQ(register_form[1], 255 - 106 - 31 - 7 - 3);

  EXPECT_EQ(displacement_form[2], 52 + 2);
  EXPECT_EQ(displacement_form[3], 25);
  EXPECT_EQ(displacement_form[4], 5 + 52);
  EXPECT_EQ(displacement_form[5], 3 + 6);
  EXPECT_EQ(displacement_form[6], 2);
}

TEST(SkipInstruction, NeverReadsPastTheBuffer) {
  // A call at the last byte: its displacement lies outside and reads as zero.
  std::vector<uint8_t> code = {0x90, 0xE8};
  uint32_t position = 1;
  SkipInstruction(std::span<const uint8_t>(code), &position);
  EXPECT_EQ(position, 4u);
  position = 1000;  // beyond the end: opcode 0 with ModRM 0
  SkipInstruction(std::span<const uint8_t>(code), &position);
  EXPECT_EQ(position, 1002u);
}

}  // namespace
}  // namespace quarn
