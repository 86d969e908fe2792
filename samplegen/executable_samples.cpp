#include "samplegen/sample_factory.h"
#include "engine/test_support/executable_builder.h"

namespace quarn::samples {
namespace {

using testing::MzBuilder;
using testing::PeBuilder;

constexpr uint32_t kEntry = 0x40;  // behind the builder's 2-paragraph header
constexpr size_t kExeSize = 0x200;
constexpr int kExeEntrySection = 0;
constexpr int kExeCallSection = 1;
constexpr int kExeForwardSection = 2;
constexpr int kExeBackwardSection = 3;

// A DOS executable whose header describes the whole file, with a small stack inside it.
MzBuilder DosExecutable(uint32_t entry) {
  MzBuilder builder;
  builder.EntryAt(entry).InitialSs(0).InitialSp(0x100).Size(kExeSize);
  const uint16_t last_page = kExeSize % 512;
  const uint16_t pages = (kExeSize + 511) / 512;
  builder.Code(MzBuilder::kPageLengthOffset, {static_cast<uint8_t>(last_page), 0});
  builder.Code(MzBuilder::kPageCountOffset, {static_cast<uint8_t>(pages), 0});
  return builder;
}

// Entry bytes and a confirmation 0x20 past the entry.
Bytes EntryFamily(const std::string& confirmation) {
  return DosExecutable(kEntry)
      .Code(kEntry, Join({kExitProgram, Text("QTFXEN01")}))
      .Code(kEntry + 0x20, Text(confirmation))
      .Build();
}

// A call to the next instruction at the entry, confirmed 0x30 and 0x50 past it.
Bytes CallFamily(const std::string& second) {
  return DosExecutable(kEntry)
      .Code(kEntry, Join({{0xE8, 0x00, 0x00, 0x58}, kExitProgram}))
      .Code(kEntry + 0x30, Text("QTFXCL"))
      .Code(kEntry + 0x50, Text(second))
      .Build();
}

Bytes ForwardFamily(const std::string& second) {
  return DosExecutable(kEntry)
      .Code(kEntry, Join({kExitProgram, Text("FX")}))
      .Code(kEntry + 0x30, Text("QTFXFW"))
      .Code(kEntry + 0x50, Text(second))
      .Build();
}

// Confirmed 0x80 before the entry and 0x10 after that.
Bytes BackwardFamily(const std::string& second) {
  constexpr uint32_t kLateEntry = 0x100;
  return DosExecutable(kLateEntry)
      .Code(kLateEntry, Join({kExitProgram, Text("BX")}))
      .Code(kLateEntry - 0x80, Text("QTFXBW"))
      .Code(kLateEntry - 0x80 + 0x10, Text(second))
      .Build();
}

// A PE image whose DOS stub exits; at the PE entry: xor eax, eax; ret; then the marker.
Bytes PeFamily(const std::string& second) {
  PeBuilder builder;
  const uint32_t entry = builder.EntryFileOffset();
  return builder.Code(0x40, kExitProgram)
      .Code(entry, Join({{0x33, 0xC0, 0xC3}, Text("QP")}))
      .Code(entry + 0x30, Text("QTFPEN"))
      .Code(entry + 0x50, Text(second))
      .Build();
}

// call +58h over a word the tracer recognises 0x76 bytes on; the call lands on the exit.
Bytes CallLoopFamily() {
  return DosExecutable(kEntry)
      .Code(kEntry, {0xE8, 0x58, 0x00})
      .Code(kEntry + 0x5B, kExitProgram)
      .Code(kEntry + 0x76, {0x94, 0x02})
      .Build();
}

}  // namespace

std::vector<Sample> BuildExecutableSamples() {
  std::vector<Sample> samples;
  samples.push_back(Make("exe_entry.exe", "entry bytes and their confirmation", EntryFamily("XEN1"),
                         {kExeEntryFamily, 0, false}));
  samples.push_back(Variant("exe_entry_variant.exe", "entry bytes with another confirmation",
                            EntryFamily("XEN2"), kExeEntrySection, kExeEntryFamily));
  samples.push_back(Make("exe_call.exe", "a call to the next instruction, confirmed after it",
                         CallFamily("C1"), {kExeCallFamily, 0, false}));
  samples.push_back(Variant("exe_call_variant.exe", "the call family with another second mark",
                            CallFamily("C2"), kExeCallSection, kExeCallFamily));
  samples.push_back(Make("exe_forward.exe", "entry code confirmed after the entry",
                         ForwardFamily("F1"), {kExeForwardFamily, 0, false}));
  samples.push_back(Variant("exe_forward_variant.exe", "the forward family, second mark changed",
                            ForwardFamily("F2"), kExeForwardSection, kExeForwardFamily));
  samples.push_back(Make("exe_backward.exe", "entry code confirmed before the entry",
                         BackwardFamily("B1"), {kExeBackwardFamily, 0, false}));
  samples.push_back(Variant("exe_backward_variant.exe", "the backward family, second mark changed",
                            BackwardFamily("B2"), kExeBackwardSection, kExeBackwardFamily));
  samples.push_back(
      Make("exe_pattern.exe", "a pattern spread over the entry code",
           DosExecutable(kEntry).Code(kEntry, Join({kExitProgram, Text("Q.T.F.X.P")})).Build(),
           {kExePatternFamily, 0, false}));
  samples.push_back(
      Make("exe_decryptor.exe", "a decryption loop at the entry of an executable",
           DosExecutable(kEntry).Code(kEntry, Join({kNullDecryptorLoop, kExitProgram})).Build(),
           {334, 0, false}));
  samples.push_back(Make("exe_call_loop.exe", "an entry call the loop tracer knows",
                         CallLoopFamily(), {333, 0, false}));
  samples.push_back(Make("exe_stack_return.exe", "entry code that would return through the stack",
                         DosExecutable(kEntry).Code(kEntry, kStackReturnEntry).Build(),
                         {368, 0, false}));
  samples.push_back(Make("pe_entry.exe", "a PE image matched at its entry", PeFamily("P1"),
                         {kPeEntryFamily, 0, false}));
  samples.push_back(Make("pe_entry_variant.exe", "a PE image matched in part at its entry",
                         PeFamily("P2"), {kPeEntryFamily, 1, false}));
  samples.push_back(Make(
      "exe_heuristic.exe", "an executable preparing the calls of a file infector",
      DosExecutable(kEntry)
          .Code(kEntry, Join({kExitProgram, kSetTransferArea, kFileWalkerCalls, kCompareWithMz}))
          .Build(),
      {0, 0, true}));
  samples.push_back(Make("clean.exe", "an executable that only exits",
                         DosExecutable(kEntry).Code(kEntry, kExitProgram).Build(), {}));
  samples.push_back(
      Make("clean_pe.exe", "a PE image that only returns",
           PeBuilder().Code(0x40, kExitProgram).Code(0x200, {0x33, 0xC0, 0xC3}).Build(), {}));
  return samples;
}

}  // namespace quarn::samples
