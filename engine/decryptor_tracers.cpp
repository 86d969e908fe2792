#include "engine/decryptor_tracers.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <span>

#include "engine/skip_instruction.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

// A set of opcodes as a table: the tracers ask one for every instruction of every file.
class ByteSet {
 public:
  constexpr ByteSet(std::initializer_list<uint8_t> values) {
    for (uint8_t value : values) has_[value] = true;
  }
  constexpr bool Has(uint8_t value) const { return has_[value]; }

 private:
  std::array<bool, 256> has_{};
};

constexpr uint32_t kTraceBufferSize = 512;
constexpr uint32_t kTraceReadSize = 256;
constexpr uint32_t kLastTraceOffset = 255;  // the trace leaves the window past this byte

constexpr ByteSet kLoopWriters{0x80, 0x81, 0xF6, 0xF7, 0x21, 0x09,
                               0x88, 0x30, 0x31, 0x28, 0x89, 0x87};
constexpr ByteSet kRegisterOperations{0x2B, 0x8B, 0x81, 0x03, 0x33};
constexpr ByteSet kExchangesWithAx{0x95, 0x96, 0x93, 0x97};
constexpr ByteSet kLoopStoppers{0xCD, 0xCA, 0x9A, 0x0F};
constexpr uint16_t kStopWord = 0xFFFF;
constexpr uint8_t kJnz = 0x75;
constexpr uint8_t kMarkByte = 0x4D;  // "M"
constexpr uint8_t kNearJump = 0xE9;
constexpr uint32_t kJumpTargetField = 2;  // "M", E9, then the 16-bit target less 4
constexpr uint32_t kJumpTargetBias = 4;

// A near call E8 xx 00 whose word `distance` bytes further on names the family.
struct CallShape {
  uint16_t call_word;  // E8 and the low displacement byte
  uint32_t distance;
  uint16_t marker;
  uint32_t virus_id;
};
constexpr uint16_t kCall58 = 0x58E8;
constexpr uint32_t kCall58Distance = 0x76;
constexpr uint16_t kCall58Marker = 0x0294;
constexpr uint16_t kCall58OtherMarker = 0x0298;
constexpr CallShape kCallShapes[] = {
    {0x00E8, 0x20, 0x6874, kMarkedDecryptorLoopId},
    {0x40E8, 0x46, 0xEAD3, kDecryptorCall40Id},
    {0x2BE8, 0x2E, 0x812E, kDecryptorCall2BId},
};

// The pointer register incremented twice (INC r; INC r), with the rm code it addresses.
struct DoubleIncrement {
  uint16_t word;
  uint8_t pointer;
};
constexpr DoubleIncrement kDoubleIncrements[] = {
    {0x4646, 4}, {0x4747, 5}, {0x4343, 7}, {0x4545, 6}};
// The trace asks the table only of a word whose two bytes agree.
static_assert(std::all_of(std::begin(kDoubleIncrements), std::end(kDoubleIncrements),
                          [](const DoubleIncrement& d) {
                            return (d.word >> 8) == (d.word & 0xFF);
                          }));

constexpr ByteSet kPushWriters{0x80, 0x81, 0xF6, 0xF7, 0x21, 0x09, 0x88, 0x30, 0x31, 0x28,
                               0x89, 0x87, 0x11, 0x18, 0x01, 0x29, 0x10, 0x00, 0x19};
constexpr ByteSet kPushLoopEnds{0x7F, 0xE2, 0x75, 0xE0};
constexpr uint8_t kPushAx = 0x50;
constexpr uint8_t kPopAx = 0x58;
constexpr uint8_t kAddImmediate8 = 0x83;
constexpr uint8_t kInt = 0xCD;
constexpr std::array<uint8_t, 3> kPushDecryptorExclusions[] = {
    {0x4B, 0x03, 0x04}, {0x3B, 0x53, 0x50}, {0xBB, 0x8A, 0xEE}};

// A one-byte instruction that steps the pointer register, with the rm code it must hold.
struct PointerStep {
  uint8_t opcode;
  uint8_t pointer;
};
constexpr PointerStep kPointerSteps[] = {{0xAE, 5}, {0xA6, 4}, {0xA6, 5}, {0x46, 4},
                                         {0x47, 5}, {0x43, 7}, {0x45, 6}};

constexpr uint8_t kNearCall = 0xE8;
constexpr uint32_t kStackWords = 8;
constexpr uint32_t kStackReadSize = 2 * kStackWords;
constexpr uint32_t kPieceSize = 16;
constexpr uint32_t kHeaderSizeField = 24;
constexpr uint32_t kInitialSsField = 14;
constexpr uint32_t kInitialSpField = 16;
constexpr uint32_t kInitialIpField = 20;
constexpr uint8_t kRet = 0xC3;
constexpr uint8_t kPopDx = 0x5A;
constexpr uint16_t kPushCsPopDs = 0x1F0E;
constexpr uint8_t kMovDx = 0xBA;
constexpr uint8_t kMovAx = 0xB8;
constexpr uint32_t kMarkPopDx = 1;
constexpr uint32_t kMarkPushCsPopDs = 2;
constexpr uint32_t kMarkMovDx = 4;
constexpr uint32_t kMarkMovAx = 8;
constexpr uint32_t kMarkInt = 16;
constexpr uint32_t kAllMarks = 0x1F;

uint8_t Mod(uint8_t modrm) {
  return modrm >> 6;
}
uint8_t Reg(uint8_t modrm) {
  return (modrm >> 3) & 7;
}
uint8_t Rm(uint8_t modrm) {
  return modrm & 7;
}

// True when register number `reg` is the register that 16-bit addressing code `rm` reads
// through: BX with [BX], BP with [BP+disp], SI with [SI], DI with [DI].
bool Pairs(uint8_t reg, uint8_t rm) {
  return (reg == 3 && rm == 7) || (reg == 5 && rm == 6) || (reg == 6 && rm == 4) ||
         (reg == 7 && rm == 5);
}

uint32_t Report(uint16_t* variant_flag, uint32_t virus_id) {
  *variant_flag = 0;
  return virus_id;
}

// Reads `length` bytes at `offset` into a buffer zeroed first, so no byte is left over from
// an earlier read.
template <size_t N>
uint32_t ReadFresh(File& file, int64_t offset, std::array<uint8_t, N>* buffer, uint32_t length) {
  buffer->fill(0);
  return ReadAt(file, offset, buffer->data(), length);
}

struct LoopTrace {
  uint8_t pointer = 0;
  uint8_t counter = 0;
  uint8_t step = 0;
  bool loop_open = false;
  uint32_t loop_start = 0;
  uint32_t writer = 0;
};

enum class Verdict { kStep, kStop, kLoopFound };

}  // namespace

uint32_t TraceDecryptorLoop(const DatabaseImage& /*signatures*/, File& file, uint16_t* variant_flag,
                            uint16_t /*directory_offset*/, DetectorState& state) {
  std::array<uint8_t, kTraceBufferSize> start;  // ReadFresh clears it
  std::array<uint8_t, kTraceBufferSize> entry;  // ReadFresh clears it
  if (ReadFresh(file, 0, &start, kTraceReadSize) == 0) return 0;
  if (ReadFresh(file, state.entry_position, &entry, kTraceReadSize) == 0) return 0;
  if (start[0] == kMarkByte && start[1] == kNearJump) {
    ReadFresh(file, int64_t{ReadU16(start, kJumpTargetField)} + kJumpTargetBias, &entry,
              kTraceReadSize);
  }

  std::span<const uint8_t> code(entry);
  LoopTrace trace;
  uint32_t at = 0;
  uint32_t found = 0;
  while (at <= kLastTraceOffset) {
    uint8_t b0 = ReadU8(code, at);
    uint8_t b1 = ReadU8(code, at + 1);
    uint8_t b2 = ReadU8(code, at + 2);
    uint16_t w = ReadU16(code, at);
    Verdict verdict = Verdict::kStep;
    if (kLoopWriters.Has(b0)) {
      if (Mod(b1) == 1 || Mod(b1) == 2) {
        trace.pointer = Rm(b1);
        trace.writer = at;
      }
    } else if (kRegisterOperations.Has(b0)) {
      if (Mod(b1) == 3) {
        if (trace.counter == 0) {
          if (Pairs(Rm(b1), trace.pointer)) trace.counter = trace.pointer;
        } else if (Pairs(Reg(b1), trace.counter)) {
          trace.step = trace.counter;
        }
      }
    } else if (kExchangesWithAx.Has(b0)) {
      if (trace.counter != 0 && Pairs(b0 & 7, trace.pointer)) trace.step = trace.pointer;
    } else if (b0 == kJnz) {
      // A backward JNZ that reaches back over the last write closes the decryption loop.
      if (trace.step != 0 && b1 >= 0x80 && int64_t{256 - b1} >= int64_t{at} - trace.writer) {
        verdict = Verdict::kLoopFound;
      } else if (b1 < 0x80) {
        if (!trace.loop_open) {
          trace.loop_open = true;
          trace.loop_start = at + 2;
        }
      } else if (trace.loop_open) {
        // Trace the loop body again with fresh registers. The loop start only grows from one
        // reopening to the next, so this cannot go on forever.
        trace = LoopTrace{.loop_start = trace.loop_start, .writer = trace.writer};
        at = trace.loop_start;
        continue;
      }
    } else if (w == kCall58 && b2 == 0) {
      uint16_t marker = ReadU16(code, at + kCall58Distance);
      if (marker == kCall58Marker) found = kDecryptorCallId;
      if (marker == kCall58OtherMarker) found = kDecryptorCall58Id;
    } else if (b0 == kNearCall && b2 == 0 &&
               std::any_of(std::begin(kCallShapes), std::end(kCallShapes),
                           [&](const CallShape& shape) { return shape.call_word == w; })) {
      for (const CallShape& shape : kCallShapes) {
        if (shape.call_word == w && ReadU16(code, at + shape.distance) == shape.marker) {
          found = shape.virus_id;
        }
      }
    } else if (b0 == b1 && std::any_of(std::begin(kDoubleIncrements), std::end(kDoubleIncrements),
                                       [&](const DoubleIncrement& d) { return d.word == w; })) {
      bool ours = std::any_of(
          std::begin(kDoubleIncrements), std::end(kDoubleIncrements),
          [&](const DoubleIncrement& d) { return d.word == w && d.pointer == trace.pointer; });
      if (ours && b2 == kJnz) verdict = Verdict::kLoopFound;
    } else if (kLoopStoppers.Has(b0) || w == kStopWord) {
      verdict = Verdict::kStop;
    }

    if (found != 0) return Report(variant_flag, found);
    if (verdict == Verdict::kStop) return 0;
    if (verdict == Verdict::kLoopFound) {
      return Report(variant_flag,
                    start[0] == kMarkByte ? kMarkedDecryptorLoopId : kDecryptorLoopId);
    }
    SkipInstruction(code, &at);
  }
  return 0;
}

uint32_t TracePushDecryptor(const DatabaseImage& /*signatures*/, File& file, uint16_t* variant_flag,
                            uint16_t /*directory_offset*/, DetectorState& state) {
  std::array<uint8_t, kTraceBufferSize> entry;  // ReadFresh clears it
  if (ReadFresh(file, state.entry_position, &entry, kTraceReadSize) == 0) return 0;
  if (entry[0] != kPushAx) return 0;
  for (const auto& excluded : kPushDecryptorExclusions) {
    if (std::equal(excluded.begin(), excluded.end(), entry.begin() + 1)) return 0;
  }

  std::span<const uint8_t> code(entry);
  uint8_t pointer = 0;
  uint8_t counter = 0;
  uint32_t at = 0;
  while (at <= kLastTraceOffset) {
    uint8_t b0 = ReadU8(code, at);
    uint8_t b1 = ReadU8(code, at + 1);
    if (kPushWriters.Has(b0)) {
      if (Mod(b1) != 3) pointer = Rm(b1);
    } else if (kPushLoopEnds.Has(b0)) {
      if (counter != 0 && ReadU8(code, at + 2) == kPopAx) {
        return Report(variant_flag, kPushDecryptorId);
      }
    } else if (b0 == kAddImmediate8) {
      if (Mod(b1) == 3 && Pairs(Rm(b1), pointer)) counter = pointer;
    } else if (std::any_of(std::begin(kPointerSteps), std::end(kPointerSteps),
                           [&](const PointerStep& s) { return s.opcode == b0; })) {
      if (std::any_of(
              std::begin(kPointerSteps), std::end(kPointerSteps),
              [&](const PointerStep& s) { return s.opcode == b0 && s.pointer == pointer; })) {
        counter = pointer;
      }
    } else if (b0 == kInt) {
      return 0;
    }
    SkipInstruction(code, &at);
  }
  return 0;
}

uint32_t TraceStackReturns(const DatabaseImage& /*signatures*/, File& file, uint16_t* variant_flag,
                           uint16_t /*directory_offset*/, DetectorState& state) {
  std::array<uint8_t, kTraceReadSize> entry{};
  if (ReadFresh(file, state.entry_position, &entry, kTraceReadSize) == 0) return 0;
  if (entry[0] != kNearCall) return 0;

  std::span<const uint8_t> header(state.header_buffer);
  uint16_t ip = ReadU16(header, kInitialIpField);
  // The stack words stay zero when the stack lies outside the file: a RET then lands where a
  // zero return address leads, as the processor's would.
  std::array<uint8_t, kStackReadSize> stack{};
  ReadFresh(file,
            int64_t{ReadU16(header, kHeaderSizeField)} + ReadU16(header, kInitialSpField) +
                int64_t{ReadU16(header, kInitialSsField)} * 16,
            &stack, kStackReadSize);

  const int64_t entry_position = state.entry_position;
  uint16_t displacement = ReadU16(entry, 1);
  int64_t position = displacement < 0x8000 ? entry_position + ((displacement + 3) % 0x10000)
                                           : entry_position - (0xFFFD - displacement);
  uint32_t marks = 0;
  uint32_t returns_used = 0;
  std::array<uint8_t, kPieceSize> piece{};
  while (true) {
    ReadFresh(file, position, &piece, kPieceSize);
    if (marks == kAllMarks) return Report(variant_flag, kStackReturnsId);

    // The trace may stand on the byte just past the piece; it reads as zero.
    std::span<const uint8_t> code(piece);
    uint32_t at = 0;
    bool returned = false;
    while (at <= kPieceSize) {
      uint8_t b0 = ReadU8(code, at);
      if (b0 == kRet) {
        returned = true;
        break;
      }
      if (b0 == kPopDx) marks |= kMarkPopDx;
      if (ReadU16(code, at) == kPushCsPopDs) marks |= kMarkPushCsPopDs;
      if (b0 == kMovDx) marks |= kMarkMovDx;
      if (b0 == kMovAx) marks |= kMarkMovAx;
      if (b0 == kInt) marks |= kMarkInt;
      SkipInstruction(code, &at);
    }
    if (!returned || returns_used == kStackWords) return 0;
    uint16_t target = ReadU16(stack, 2 * returns_used++);
    position = target >= ip ? entry_position + (target - ip) : entry_position - (ip - target);
  }
}

}  // namespace quarn
