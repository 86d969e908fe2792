#include "engine/decryptor_tracers.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "engine/section_directory.h"
#include "engine/test_support/executable_builder.h"
#include "platform/byte_reader.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/open_bytes.h"
#include "platform/test_support/test_bytes.h"

namespace quarn {
namespace {

using testing::ComBuilder;
using testing::Join;
using testing::MzBuilder;
using Bytes = std::vector<uint8_t>;
using Tracer = uint32_t (*)(const DatabaseImage&, File&, uint16_t*, uint16_t, DetectorState&);

constexpr uint16_t kDecryptorDirectory = DirectoryOffset(kDecryptorSection);

Bytes Nops(size_t count) {
  return Bytes(count, 0x90);
}

Bytes Com(const Bytes& code) {
  return ComBuilder().Code(0, code).Build();
}

struct TracerCase {
  std::string name;
  Bytes file;
  uint32_t entry;
  uint32_t expected;
};

class DecryptorTracersTest : public ::testing::Test {
 protected:
  uint32_t Run(Tracer tracer, const Bytes& file_bytes, uint32_t entry,
               DetectorState state = DetectorState{}) {
    state.entry_position = entry;
    flag_ = testing::kUntouchedFlag;
    return tracer(signatures_, *testing::OpenBytes(files_, file_bytes), &flag_, kDecryptorDirectory,
                  state);
  }

  void RunCases(Tracer tracer, const std::vector<TracerCase>& cases) {
    for (const TracerCase& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(Run(tracer, c.file, c.entry), c.expected);
      EXPECT_EQ(flag_, c.expected != 0 ? 0 : testing::kUntouchedFlag);
    }
  }

  DatabaseImage signatures_;
  MemoryFileSystem files_;
  uint16_t flag_ = testing::kUntouchedFlag;
};

// XOR [SI+5], AL: a write through SI. MOV CX, SI makes SI the counter; ADD SI, CX its step.
const Bytes kWriteSi = {0x30, 0x44, 0x05};
const Bytes kWriteDi = {0x30, 0x45, 0x05};
const Bytes kCounterSi = {0x8B, 0xCE};
const Bytes kStepSi = {0x03, 0xF1};
const Bytes kIncSiTwiceJnz = {0x46, 0x46, 0x75, 0xF9};

TEST_F(DecryptorTracersTest, DecryptorLoopRegisterRules) {
  RunCases(
      TraceDecryptorLoop,
      {
          // The JNZ at 7 reaches back 256 - 0xF9 = 7 bytes: exactly to the write.
          {"write, counter, step, JNZ", Com(Join({kWriteSi, kCounterSi, kStepSi, {0x75, 0xF9}})), 0,
           kDecryptorLoopId},
          {"JNZ one byte short of the write",
           Com(Join({kWriteSi, kCounterSi, kStepSi, {0x75, 0xFA}})), 0, 0},
          {"JZ instead of JNZ", Com(Join({kWriteSi, kCounterSi, kStepSi, {0x74, 0xF9}})), 0, 0},
          {"no write", Com(Join({{0x32, 0x44, 0x05}, kCounterSi, kStepSi, {0x75, 0xF9}})), 0, 0},
          {"counter from DI", Com(Join({kWriteSi, {0x8B, 0xCF}, kStepSi, {0x75, 0xF9}})), 0, 0},
          {"step into BP", Com(Join({kWriteSi, kCounterSi, {0x03, 0xE9}, {0x75, 0xF9}})), 0, 0},
          {"exchange as step", Com(Join({kWriteSi, kCounterSi, {0x96}, {0x75, 0xFA}})), 0,
           kDecryptorLoopId},
          {"exchange with DI", Com(Join({kWriteSi, kCounterSi, {0x97}, {0x75, 0xFA}})), 0, 0},
          {"exchange before any counter", Com(Join({kWriteSi, {0x96}, {0x75, 0xFB}})), 0, 0},
          {"SI incremented twice", Com(Join({kWriteSi, kIncSiTwiceJnz})), 0, kDecryptorLoopId},
          {"DI incremented twice", Com(Join({kWriteDi, {0x47, 0x47, 0x75, 0xF9}})), 0,
           kDecryptorLoopId},
          {"SI incremented while DI is written", Com(Join({kWriteDi, kIncSiTwiceJnz})), 0, 0},
          {"double increment before JZ", Com(Join({kWriteSi, {0x46, 0x46, 0x74, 0xF9}})), 0, 0},
          {"NOPs before the loop", Com(Join({kWriteSi, Nops(2), kIncSiTwiceJnz})), 0,
           kDecryptorLoopId},
          {"INT stops the trace", Com(Join({kWriteSi, {0xCD, 0x21}, kIncSiTwiceJnz})), 0, 0},
          {"FF FF stops the trace", Com(Join({kWriteSi, {0xFF, 0xFF}, kIncSiTwiceJnz})), 0, 0},
          {"far call stops the trace", Com(Join({kWriteSi, {0x9A, 0, 0, 0, 0}, kIncSiTwiceJnz})), 0,
           0},
      });
}

TEST_F(DecryptorTracersTest, DecryptorLoopOpcodeSets) {
  // Each writer through [SI+5], padded so the double increment always lies at 5.
  for (uint8_t writer : {0x80, 0x81, 0xF6, 0xF7, 0x21, 0x09, 0x88, 0x30, 0x31, 0x28, 0x89, 0x87}) {
    SCOPED_TRACE(writer);
    EXPECT_EQ(
        Run(TraceDecryptorLoop, Com({writer, 0x44, 0x05, 0x90, 0x90, 0x46, 0x46, 0x75, 0xF9}), 0),
        kDecryptorLoopId);
  }
  EXPECT_EQ(Run(TraceDecryptorLoop, Com({0x32, 0x44, 0x05, 0x90, 0x90, 0x46, 0x46, 0x75, 0xF9}), 0),
            0u);
  EXPECT_EQ(flag_, testing::kUntouchedFlag);

  for (uint8_t operation : {0x2B, 0x8B, 0x03, 0x33}) {
    SCOPED_TRACE(operation);
    EXPECT_EQ(
        Run(TraceDecryptorLoop, Com(Join({kWriteSi, {operation, 0xCE}, kStepSi, {0x75, 0xF9}})), 0),
        kDecryptorLoopId);
  }
  EXPECT_EQ(Run(TraceDecryptorLoop, Com(Join({kWriteSi, {0x3B, 0xCE}, kStepSi, {0x75, 0xF9}})), 0),
            0u);

  // XCHG AX with BX, BP, SI, DI after a write through [BX], [BP+5], [SI], [DI].
  struct Exchange {
    uint8_t opcode;
    uint8_t rm;
  };
  for (Exchange exchange :
       {Exchange{0x93, 7}, Exchange{0x95, 6}, Exchange{0x96, 4}, Exchange{0x97, 5}}) {
    SCOPED_TRACE(exchange.opcode);
    uint8_t reg = exchange.opcode & 7;
    Bytes code = {0x30,
                  static_cast<uint8_t>(0x40 | exchange.rm),
                  0x05,
                  0x8B,
                  static_cast<uint8_t>(0xC8 | reg),
                  exchange.opcode,
                  0x75,
                  0xFA};
    EXPECT_EQ(Run(TraceDecryptorLoop, Com(code), 0), kDecryptorLoopId);
    code[5] = 0x94;  // XCHG SP, AX
    EXPECT_EQ(Run(TraceDecryptorLoop, Com(code), 0), 0u);
  }
}

Bytes CallShape(uint8_t displacement, uint8_t third, size_t distance, uint16_t marker) {
  Bytes word(2);
  WriteU16(word.data(), marker);
  return ComBuilder().Code(0, {0xE8, displacement, third}).Code(distance, word).Build();
}

TEST_F(DecryptorTracersTest, DecryptorLoopCallShapes) {
  RunCases(TraceDecryptorLoop,
           {
               {"E8 58 00, 0294", CallShape(0x58, 0, 0x76, 0x0294), 0, kDecryptorCallId},
               {"E8 58 00, 0298", CallShape(0x58, 0, 0x76, 0x0298), 0, kDecryptorCall58Id},
               {"E8 58 00, 0295", CallShape(0x58, 0, 0x76, 0x0295), 0, 0},
               {"E8 58 00, 0294 one byte early", CallShape(0x58, 0, 0x75, 0x0294), 0, 0},
               {"E8 58 01, 0294", CallShape(0x58, 1, 0x76, 0x0294), 0, 0},
               {"E8 00 00, 6874", CallShape(0x00, 0, 0x20, 0x6874), 0, kMarkedDecryptorLoopId},
               {"E8 00 00, 6875", CallShape(0x00, 0, 0x20, 0x6875), 0, 0},
               {"E8 00 01, 6874", CallShape(0x00, 1, 0x20, 0x6874), 0, 0},
               {"E8 40 00, EAD3", CallShape(0x40, 0, 0x46, 0xEAD3), 0, kDecryptorCall40Id},
               {"E8 40 00, EAD2", CallShape(0x40, 0, 0x46, 0xEAD2), 0, 0},
               {"E8 41 00, EAD3", CallShape(0x41, 0, 0x46, 0xEAD3), 0, 0},
               {"E8 2B 00, 812E", CallShape(0x2B, 0, 0x2E, 0x812E), 0, kDecryptorCall2BId},
               {"E8 2B 00, 812F", CallShape(0x2B, 0, 0x2E, 0x812F), 0, 0},
               {"call shape after other code",
                ComBuilder()
                    .Code(0, Nops(5))
                    .Code(5, {0xE8, 0x2B, 0})
                    .Code(5 + 0x2E, {0x2E, 0x81})
                    .Build(),
                0, kDecryptorCall2BId},
           });
}

TEST_F(DecryptorTracersTest, DecryptorLoopRetracesAnOpenLoop) {
  // A forward JNZ opens a loop; the backward JNZ sends the trace back to the loop's start
  // with fresh registers, so the write skipped on the first pass is seen on the second.
  Bytes body = Join({kWriteSi, kCounterSi, kStepSi, {0x75, 0xF7}});
  // A backward JNZ that reaches over the write but finds the registers cleared.
  Bytes cleared = Join({kWriteSi, {0x75, 0x02}, kCounterSi, kStepSi, {0x75, 0xF7}});
  RunCases(TraceDecryptorLoop,
           {
               {"loop opened by JNZ", Com(Join({{0x75, 0x03}, body})), 0, kDecryptorLoopId},
               {"JMP opens no loop", Com(Join({{0xEB, 0x03}, body})), 0, 0},
               {"registers cleared on retrace", Com(cleared), 0, 0},
               {"same code without the forward JNZ",
                Com(Join({kWriteSi, {0x90, 0x90}, kCounterSi, kStepSi, {0x75, 0xF7}})), 0,
                kDecryptorLoopId},
               // Backward JNZs that keep reopening the loop must still end.
               {"nested backward jumps",
                Com(Join({{0x75, 0x00, 0x75, 0x00, 0x75, 0xFA, 0x75, 0xF6}, Nops(300)})), 0, 0},
           });
}

TEST_F(DecryptorTracersTest, DecryptorLoopStaysInItsWindow) {
  Bytes tail_loop =
      ComBuilder().Code(0, kWriteSi).Code(3, Nops(250)).Code(253, {0x46, 0x46, 0x75}).Build();
  // The JNZ lies at file byte 256, which the 256-byte read does not reach.
  Bytes past_window = ComBuilder()
                          .Code(0, kWriteSi)
                          .Code(3, Nops(251))
                          .Code(254, {0x46, 0x46})
                          .Code(256, {0x75, 0xF9})
                          .Build();
  Bytes call_in =
      ComBuilder().Code(0, kWriteSi).Code(3, {0xE8, 0x10, 0x00}).Code(0x16, kIncSiTwiceJnz).Build();
  Bytes call_out = ComBuilder()
                       .Code(0, kWriteSi)
                       .Code(3, {0xE8, 0xFD, 0x00})
                       .Code(0x103, kIncSiTwiceJnz)
                       .Size(600)
                       .Build();
  Bytes jump_out = ComBuilder()
                       .Code(0, kWriteSi)
                       .Code(3, Nops(0xED))
                       .Code(0xF0, {0xEB, 0x10})
                       .Code(0x102, kIncSiTwiceJnz)
                       .Size(600)
                       .Build();
  RunCases(TraceDecryptorLoop,
           {
               {"loop ending on the window's last byte", tail_loop, 0, kDecryptorLoopId},
               {"JNZ past the window", past_window, 0, 0},
               {"call inside the window", call_in, 0, kDecryptorLoopId},
               {"call out of the window", call_out, 0, 0},
               {"jump out of the window", jump_out, 0, 0},
               {"entry past the end", Com(Join({kWriteSi, kIncSiTwiceJnz})), 100, 0},
               {"empty file", Bytes{}, 0, 0},
               {"entry code away from the start",
                ComBuilder().Code(0x40, Join({kWriteSi, kIncSiTwiceJnz})).Build(), 0x40,
                kDecryptorLoopId},
           });
}

TEST_F(DecryptorTracersTest, DecryptorLoopInFileStartingWithM) {
  Bytes loop = Join({kWriteSi, kIncSiTwiceJnz});
  RunCases(TraceDecryptorLoop,
           {
               {"MZ file", ComBuilder().Code(0, {0x4D, 0x5A}).Code(0x40, loop).Build(), 0x40,
                kMarkedDecryptorLoopId},
               {"LZ file", ComBuilder().Code(0, {0x4C, 0x5A}).Code(0x40, loop).Build(), 0x40,
                kDecryptorLoopId},
               // "M" then a near jump: the code is read at the 16-bit target + 4, not at the entry.
               {"M, near jump",
                ComBuilder().Code(0, {0x4D, 0xE9, 0x30, 0x00}).Code(0x34, loop).Size(0x100).Build(),
                0x80, kMarkedDecryptorLoopId},
               {"M, short jump",
                ComBuilder().Code(0, {0x4D, 0xEB, 0x30, 0x00}).Code(0x34, loop).Size(0x100).Build(),
                0x80, 0},
               {"M, near jump one byte further",
                ComBuilder().Code(0, {0x4D, 0xE9, 0x31, 0x00}).Code(0x34, loop).Size(0x100).Build(),
                0x80, 0},
           });
}

// PUSH AX; XOR [SI], AL; INC SI; LOOP back; POP AX.
const Bytes kPushLoop = {0x50, 0x30, 0x04, 0x46, 0xE2, 0xFB, 0x58};

TEST_F(DecryptorTracersTest, PushDecryptorRules) {
  const Bytes loop(kPushLoop.begin() + 1, kPushLoop.end());
  // POP AX on the window's last byte, then one byte later: past what was read.
  const Bytes at_end = ComBuilder()
                           .Code(0, {0x50, 0x30, 0x04})
                           .Code(3, Nops(249))
                           .Code(252, {0x46, 0xE2, 0xF0, 0x58})
                           .Build();
  const Bytes past_end = ComBuilder()
                             .Code(0, {0x50, 0x30, 0x04})
                             .Code(3, Nops(250))
                             .Code(253, {0x46, 0xE2, 0xF0, 0x58})
                             .Build();
  const Bytes call_out = ComBuilder()
                             .Code(0, {0x50, 0x30, 0x04, 0x46, 0xE8, 0xFD, 0x00})
                             .Code(0x104, {0xE2, 0xF0, 0x58})
                             .Build();
  RunCases(
      TracePushDecryptor,
      {
          {"push loop", Com(kPushLoop), 0, kPushDecryptorId},
          {"push loop away from the start", ComBuilder().Code(0x30, kPushLoop).Build(), 0x30,
           kPushDecryptorId},
          {"PUSH CX first", Com({0x51, 0x30, 0x04, 0x46, 0xE2, 0xFB, 0x58}), 0, 0},
          {"POP CX last", Com({0x50, 0x30, 0x04, 0x46, 0xE2, 0xFB, 0x59}), 0, 0},
          {"JCXZ instead of LOOP", Com({0x50, 0x30, 0x04, 0x46, 0xE3, 0xFB, 0x58}), 0, 0},
          {"JNZ ends the loop", Com({0x50, 0x30, 0x04, 0x46, 0x75, 0xFB, 0x58}), 0,
           kPushDecryptorId},
          {"JG ends the loop", Com({0x50, 0x30, 0x04, 0x46, 0x7F, 0xFB, 0x58}), 0,
           kPushDecryptorId},
          {"LOOPNZ ends the loop", Com({0x50, 0x30, 0x04, 0x46, 0xE0, 0xFB, 0x58}), 0,
           kPushDecryptorId},
          {"INC DI while SI is written", Com({0x50, 0x30, 0x04, 0x47, 0xE2, 0xFB, 0x58}), 0, 0},
          {"register, not memory, written", Com({0x50, 0x30, 0xC4, 0x46, 0xE2, 0xFB, 0x58}), 0, 0},
          {"ADC writes too", Com({0x50, 0x10, 0x04, 0x46, 0xE2, 0xFB, 0x58}), 0, kPushDecryptorId},
          {"ADD SI, imm8 steps", Com({0x50, 0x30, 0x04, 0x83, 0xC6, 0x02, 0xE2, 0xFA, 0x58}), 0,
           kPushDecryptorId},
          {"ADD DI, imm8 steps another register",
           Com({0x50, 0x30, 0x04, 0x83, 0xC7, 0x02, 0xE2, 0xFA, 0x58}), 0, 0},
          {"CMPSB after a write through DI", Com({0x50, 0x30, 0x05, 0xA6, 0xE2, 0xFB, 0x58}), 0,
           kPushDecryptorId},
          {"SCASB after a write through SI", Com({0x50, 0x30, 0x04, 0xAE, 0xE2, 0xFB, 0x58}), 0, 0},
          {"INC BX after a write through BX", Com({0x50, 0x30, 0x07, 0x43, 0xE2, 0xFB, 0x58}), 0,
           kPushDecryptorId},
          {"INT stops the trace", Com(Join({{0x50, 0xCD, 0x21}, loop})), 0, 0},
          {"NOPs in place of the INT", Com(Join({{0x50, 0x90, 0x90}, loop})), 0, kPushDecryptorId},
          // Starts the decryptor check excludes, and their neighbours one value on.
          {"50 4B 03 04", Com(Join({{0x50, 0x4B, 0x03, 0x04}, loop})), 0, 0},
          {"50 4B 03 05", Com(Join({{0x50, 0x4B, 0x03, 0x05}, loop})), 0, kPushDecryptorId},
          {"50 3B 53 50", Com(Join({{0x50, 0x3B, 0x53, 0x50}, loop})), 0, 0},
          {"50 3B 53 51", Com(Join({{0x50, 0x3B, 0x53, 0x51}, loop})), 0, kPushDecryptorId},
          {"50 BB 8A EE", Com(Join({{0x50, 0xBB, 0x8A, 0xEE}, loop})), 0, 0},
          {"50 BB 8A EF", Com(Join({{0x50, 0xBB, 0x8A, 0xEF}, loop})), 0, kPushDecryptorId},
          {"POP AX on the last byte", at_end, 0, kPushDecryptorId},
          {"POP AX past the window", past_end, 0, 0},
          {"call out of the window", call_out, 0, 0},
          {"entry past the end", Com(kPushLoop), 50, 0},
          {"empty file", Bytes{}, 0, 0},
      });
}

TEST_F(DecryptorTracersTest, PushDecryptorWriters) {
  // Each writer through [SI], padded so INC SI always lies at 5.
  for (uint8_t writer : {0x80, 0x81, 0xF6, 0xF7, 0x21, 0x09, 0x88, 0x30, 0x31, 0x28, 0x89, 0x87,
                         0x11, 0x18, 0x01, 0x29, 0x10, 0x00, 0x19}) {
    SCOPED_TRACE(writer);
    EXPECT_EQ(
        Run(TracePushDecryptor, Com({0x50, writer, 0x04, 0x90, 0x90, 0x46, 0xE2, 0xF9, 0x58}), 0),
        kPushDecryptorId);
  }
  EXPECT_EQ(Run(TracePushDecryptor, Com({0x50, 0x02, 0x04, 0x90, 0x90, 0x46, 0xE2, 0xF9, 0x58}), 0),
            0u);
  EXPECT_EQ(flag_, testing::kUntouchedFlag);
}

// An EXE with a 32-byte header, CS:IP = 0:0100 (entry at 0x120) and SS:SP = 0:0400 (the
// initial stack at 0x420).
constexpr uint32_t kExeEntry = 0x120;
constexpr uint32_t kExeStack = 0x420;
constexpr uint16_t kExeIp = 0x100;

class StackReturnsTest : public DecryptorTracersTest {
 protected:
  // Traces `image`, whose entry code and stack the test has placed.
  uint32_t Trace(const Bytes& image) {
    DetectorState state;
    std::copy(image.begin(), image.begin() + 24, state.header_buffer.begin());
    WriteU16(&state.header_buffer[24], 0x20);
    return Run(TraceStackReturns, image, kExeEntry, state);
  }

  static MzBuilder Exe() {
    return MzBuilder().HeaderParagraphs(2).InitialIp(kExeIp).InitialSp(0x400);
  }

  // Return words that lead to file offsets, as RET would take them off the stack.
  static Bytes Returns(std::initializer_list<uint32_t> targets) {
    Bytes words;
    for (uint32_t target : targets) {
      uint16_t word = static_cast<uint16_t>(target - kExeEntry + kExeIp);
      words.push_back(static_cast<uint8_t>(word));
      words.push_back(static_cast<uint8_t>(word >> 8));
    }
    return words;
  }

  void Expect(const std::string& name, const Bytes& image, uint32_t expected) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Trace(image), expected);
    EXPECT_EQ(flag_, expected != 0 ? 0 : testing::kUntouchedFlag);
  }
};

// POP DX; PUSH CS; POP DS; MOV DX, imm; RET — then MOV AX, imm; INT 21; RET.
const Bytes kFirstPiece = {0x5A, 0x0E, 0x1F, 0xBA, 0x34, 0x12, 0xC3};
const Bytes kSecondPiece = {0xB8, 0x00, 0x4C, 0xCD, 0x21, 0xC3};

TEST_F(StackReturnsTest, MarksGatheredOverReturns) {
  // The call at the entry leads to 0x130; the two RETs to 0x160, then 0x180.
  auto image = [](const Bytes& first, const Bytes& second, const Bytes& call) {
    return Exe()
        .Code(kExeEntry, call)
        .Code(0x130, first)
        .Code(0x160, second)
        .Code(kExeStack, Returns({0x160, 0x180}))
        .Size(0x500)
        .Build();
  };
  const Bytes call = {0xE8, 0x0D, 0x00};
  Expect("all five marks", image(kFirstPiece, kSecondPiece, call), kStackReturnsId);
  Expect("no POP DX", image({0x90, 0x0E, 0x1F, 0xBA, 0x34, 0x12, 0xC3}, kSecondPiece, call), 0);
  Expect("PUSH CS without POP DS",
         image({0x5A, 0x0E, 0x90, 0xBA, 0x34, 0x12, 0xC3}, kSecondPiece, call), 0);
  Expect("no MOV DX", image({0x5A, 0x0E, 0x1F, 0xB9, 0x34, 0x12, 0xC3}, kSecondPiece, call), 0);
  Expect("no MOV AX", image(kFirstPiece, {0xB9, 0x00, 0x4C, 0xCD, 0x21, 0xC3}, call), 0);
  Expect("no INT", image(kFirstPiece, {0xB8, 0x00, 0x4C, 0x90, 0x90, 0xC3}, call), 0);
  // The marks are only looked at after a RET.
  Expect("no last RET", image(kFirstPiece, {0xB8, 0x00, 0x4C, 0xCD, 0x21, 0x90}, call), 0);
  Expect("JMP at the entry", image(kFirstPiece, kSecondPiece, {0xE9, 0x0D, 0x00}), 0);
  Expect("call one byte short", image(kFirstPiece, kSecondPiece, {0xE8, 0x0C, 0x00}), 0);
}

TEST_F(StackReturnsTest, BackwardCallsAndReturns) {
  // A call back to 0x100 (E − 0x20) and a return word below IP, leading back to 0x110.
  Bytes image = Exe()
                    .Code(0x100, kFirstPiece)
                    .Code(0x110, kSecondPiece)
                    .Code(kExeEntry, {0xE8, 0xDD, 0xFF})  // 0xFFFD − 0xFFDD = 0x20 back
                    .Code(kExeStack, Returns({0x110, 0x180}))
                    .Size(0x500)
                    .Build();
  Expect("call and return below the entry", image, kStackReturnsId);
  image[kExeEntry + 1] = 0xDE;  // 0x1F back: the trace starts past POP DX
  Expect("call one byte off", image, 0);
}

TEST_F(StackReturnsTest, AtMostEightReturns) {
  // The piece at 0x140 is a bare RET; the INT comes in the piece the `int_at`-th word leads to.
  auto image = [](int int_at) {
    std::vector<uint32_t> targets(8, 0x140);
    targets[int_at] = 0x160;
    Bytes words;
    for (uint32_t target : targets) {
      Bytes one = Returns({target});
      words.insert(words.end(), one.begin(), one.end());
    }
    return Exe()
        .Code(kExeEntry, {0xE8, 0x0D, 0x00})
        .Code(0x130, {0x5A, 0x0E, 0x1F, 0xBA, 0x34, 0x12, 0xB8, 0x00, 0x4C, 0xC3})
        .Code(0x140, {0xC3})
        .Code(0x160, {0xCD, 0x21, 0xC3})
        .Code(kExeStack, words)
        .Size(0x500)
        .Build();
  };
  Expect("marks complete at the seventh RET", image(6), kStackReturnsId);
  Expect("marks complete only at the ninth RET", image(7), 0);
}

TEST_F(StackReturnsTest, PiecesOfSixteenBytes) {
  // All five marks in one piece, the RET on its last byte or one byte later.
  Bytes piece = {0x5A, 0x0E, 0x1F, 0xBA, 0x34, 0x12, 0xB8, 0x00, 0x4C, 0xCD, 0x21};
  auto image = [&](size_t ret_at) {
    return Exe()
        .Code(kExeEntry, {0xE8, 0x0D, 0x00})
        .Code(0x130, Join({piece, Nops(ret_at - piece.size()), {0xC3}}))
        .Code(kExeStack, Returns({0x180}))
        .Size(0x500)
        .Build();
  };
  Expect("RET on the piece's last byte", image(15), kStackReturnsId);
  Expect("RET past the piece", image(16), 0);

  Bytes no_stack = Exe()
                       .InitialSp(0x7000)  // the stack lies past the end: its words read as 0
                       .Code(kExeEntry, {0xE8, 0x0D, 0x00})
                       .Code(0x130, Join({piece, {0xC3}}))
                       .Size(0x500)
                       .Build();
  // A zero return word still leads somewhere (E − IP = 0x20); the marks are complete by then.
  Expect("stack outside the file", no_stack, kStackReturnsId);
  Expect("entry past the end", Exe().Size(0x100).Build(), 0);
}

}  // namespace
}  // namespace quarn
