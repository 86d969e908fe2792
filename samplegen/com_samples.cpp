#include "samplegen/sample_factory.h"
#include "engine/test_support/executable_builder.h"

namespace quarn::samples {
namespace {

using testing::ComBuilder;

constexpr size_t kComSize = 0x400;
constexpr uint32_t kJumpTarget = 0x100;
constexpr int kComTailParagraphSection = 6;
constexpr int kComTailSection = 7;
constexpr int kComEntrySection = 8;
constexpr int kComCallSection = 9;
constexpr int kComForwardSection = 10;
constexpr int kComBackwardSection = 11;
constexpr int kComEndSection = 12;
constexpr uint32_t kPrependedFamily = 990;
constexpr size_t kPrependedLength = 64;

// A program that starts with a near jump to `target`, where `code` begins.
ComBuilder JumpingProgram(uint32_t target, const Bytes& code) {
  return ComBuilder().JumpNear(target).Code(target, code).Size(kComSize);
}

// Confirmed 0x108 bytes before the end: 0x2F8 exactly, or 0x2F0 rounded down to a paragraph.
Bytes TailParagraphFamily(const std::string& second) {
  return ComBuilder()
      .Code(0, Join({kExitProgram, Text("TP")}))
      .Code(0x2F0, Text("QTFCTP"))
      .Code(0x310, Text(second))
      .Size(kComSize)
      .Build();
}

Bytes TailFamily(const std::string& second) {
  return ComBuilder()
      .Code(0, Join({kExitProgram, Text("TL")}))
      .Code(0x2F8, Text("QTFCTL"))
      .Code(0x318, Text(second))
      .Size(kComSize)
      .Build();
}

Bytes EntryFamily(const std::string& confirmation) {
  return JumpingProgram(kJumpTarget, Join({kExitProgram, Text("QTFCEN01")}))
      .Code(kJumpTarget + 0x20, Text(confirmation))
      .Build();
}

Bytes CallFamily(const std::string& second) {
  return JumpingProgram(kJumpTarget, Join({{0xE8, 0x00, 0x00, 0x58}, kExitProgram}))
      .Code(kJumpTarget + 0x30, Text("QTFCCL"))
      .Code(kJumpTarget + 0x50, Text(second))
      .Build();
}

Bytes ForwardFamily(const std::string& second) {
  return JumpingProgram(kJumpTarget, Join({kExitProgram, Text("FC")}))
      .Code(kJumpTarget + 0x30, Text("QTFCFW"))
      .Code(kJumpTarget + 0x50, Text(second))
      .Build();
}

Bytes BackwardFamily(const std::string& second) {
  constexpr uint32_t kLateEntry = 0x200;
  return JumpingProgram(kLateEntry, Join({kExitProgram, Text("BC")}))
      .Code(kLateEntry - 0x100, Text("QTFCBW"))
      .Code(kLateEntry - 0x100 + 0x10, Text(second))
      .Build();
}

// Marked in the last 80 bytes and 0x20 before the end.
Bytes EndFamily(const std::string& second) {
  return ComBuilder()
      .Code(0, kExitProgram)
      .Code(kComSize - 80 + 0x10, Text("QTFCEND!"))
      .Code(kComSize - 0x20, Text(second))
      .Size(kComSize)
      .Build();
}

// Entry calls the loop tracer recognises by a word placed further on; each call lands on
// code that ends the program, and the word is never executed.
Bytes CallLoop(uint8_t displacement, size_t word_offset, const Bytes& word, const Bytes& landing) {
  return JumpingProgram(kJumpTarget, {0xE8, displacement, 0x00})
      .Code(kJumpTarget + 3 + displacement, landing)
      .Code(kJumpTarget + word_offset, word)
      .Build();
}

// The EICAR anti-virus test file: a harmless program that prints a fixed text.
Bytes EicarTestFile() {
  return Text("X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*");
}

// 64 bytes placed in front of a host; both parts exit at once when run.
Sample PrependedSample() {
  const Bytes host = ComBuilder().Code(0, Join({kExitProgram, Text("host program")})).Build();
  Bytes infected = ComBuilder()
                       .Code(0, Join({kExitProgram, Text("QTFPRE01")}))
                       .Code(0x20, Text("PRE1"))
                       .Size(kPrependedLength)
                       .Build();
  infected.insert(infected.end(), host.begin(), host.end());
  return Infected("com_prepended.com", "64 bytes in front of the host", infected, kPrependedFamily,
                  host);
}

}  // namespace

std::vector<Sample> BuildComSamples() {
  std::vector<Sample> samples;
  samples.push_back(
      Make("eicar.com", "the anti-virus test file", EicarTestFile(), {kEicarFamily, 0, false}));
  samples.push_back(Make("com_tail_paragraph.com", "confirmed at a paragraph near the end",
                         TailParagraphFamily("T1"), {kComTailParagraphFamily, 0, false}));
  samples.push_back(Variant("com_tail_paragraph_variant.com", "the same, second mark changed",
                            TailParagraphFamily("T2"), kComTailParagraphSection,
                            kComTailParagraphFamily));
  samples.push_back(Make("com_tail.com", "confirmed at a fixed distance from the end",
                         TailFamily("L1"), {kComTailFamily, 0, false}));
  samples.push_back(Variant("com_tail_variant.com", "the same, second mark changed",
                            TailFamily("L2"), kComTailSection, kComTailFamily));
  samples.push_back(Make("com_entry.com", "entry bytes behind a near jump", EntryFamily("CEN1"),
                         {kComEntryFamily, 0, false}));
  samples.push_back(Variant("com_entry_variant.com", "entry bytes with another confirmation",
                            EntryFamily("CEN2"), kComEntrySection, kComEntryFamily));
  samples.push_back(Make("com_call.com", "a call to the next instruction behind a near jump",
                         CallFamily("K1"), {kComCallFamily, 0, false}));
  samples.push_back(Variant("com_call_variant.com", "the call family, second mark changed",
                            CallFamily("K2"), kComCallSection, kComCallFamily));
  samples.push_back(Make("com_forward.com", "entry code confirmed after the entry",
                         ForwardFamily("W1"), {kComForwardFamily, 0, false}));
  samples.push_back(Variant("com_forward_variant.com", "the forward family, second mark changed",
                            ForwardFamily("W2"), kComForwardSection, kComForwardFamily));
  samples.push_back(Make("com_backward.com", "entry code confirmed before the entry",
                         BackwardFamily("R1"), {kComBackwardFamily, 0, false}));
  samples.push_back(Variant("com_backward_variant.com", "the backward family, second mark changed",
                            BackwardFamily("R2"), kComBackwardSection, kComBackwardFamily));
  samples.push_back(Make("com_end.com", "marks in the last bytes of the file", EndFamily("E1"),
                         {kComEndFamily, 0, false}));
  samples.push_back(Variant("com_end_variant.com", "the end family, second mark changed",
                            EndFamily("E2"), kComEndSection, kComEndFamily));
  samples.push_back(Make("com_pattern.com", "a pattern spread over the entry code",
                         ComBuilder().Code(0, Join({kExitProgram, Text("Q.T.F.C.P")})).Build(),
                         {kComPatternFamily, 0, false}));
  samples.push_back(Make("com_stamp.com", "the appender pattern at the start of the file",
                         ComBuilder().Code(0, Join({kExitProgram, Text("QTFSTAMP")})).Build(),
                         {90, 0, false}));
  // jmp 9 over 01 .. 01 C3 to the exit: the bytes the jump-chain family is confirmed by.
  samples.push_back(Make("com_jump_chain.com", "a pattern confirmed by the first bytes",
                         ComBuilder()
                             .Code(0, {0xEB, 0x07, 0x90, 0x01, 0x90, 0x90, 0x90, 0x01, 0xC3})
                             .Code(9, kExitProgram)
                             .Build(),
                         {220, 0, false}));
  samples.push_back(Make("com_decryptor.com", "a decryption loop at the entry",
                         ComBuilder().Code(0, Join({kNullDecryptorLoop, kExitProgram})).Build(),
                         {332, 0, false}));
  samples.push_back(Make("com_push_decryptor.com", "a decryption loop that saves AX",
                         ComBuilder().Code(0, Join({kNullPushDecryptor, kExitProgram})).Build(),
                         {335, 0, false}));
  samples.push_back(Make("com_call_loop_b.com", "an entry call the loop tracer knows (B)",
                         CallLoop(0x58, 0x76, {0x98, 0x02}, kExitProgram), {728, 0, false}));
  samples.push_back(Make("com_call_loop_c.com", "an entry call the loop tracer knows (C)",
                         CallLoop(0x40, 0x46, {0xD3, 0xEA}, kExitCom), {727, 0, false}));
  // The call lands on the recognised word itself: 2E 81 3E .. is cmp word cs:[0], 0.
  samples.push_back(Make("com_call_loop_d.com", "an entry call the loop tracer knows (D)",
                         CallLoop(0x2B, 0x2E, {0x2E, 0x81, 0x3E, 0, 0, 0, 0, 0xCD, 0x20}, {}),
                         {729, 0, false}));
  samples.push_back(Make(
      "com_heuristic.com", "a program preparing the calls of a file infector",
      JumpingProgram(kJumpTarget, Join({kExitProgram, kFileWalkerCalls})).Build(), {0, 0, true}));
  samples.push_back(PrependedSample());
  samples.push_back(Make("clean.com", "a program that only exits",
                         ComBuilder().Code(0, kExitProgram).Build(), {}));
  samples.push_back(Make("empty.com", "an empty file", {}, {}));
  return samples;
}

}  // namespace quarn::samples
