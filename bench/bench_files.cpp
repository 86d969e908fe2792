#include "bench/bench_files.h"

#include <random>
#include <string_view>

#include "engine/test_support/compound_file_writer.h"
#include "engine/test_support/executable_builder.h"

namespace quarn::bench {
namespace {

using testing::ComBuilder;
using testing::CompoundFileWriter;
using testing::MzBuilder;
using testing::PeBuilder;
using testing::WordDocumentStream;

constexpr size_t kDosExeSize = 32 * 1024;
constexpr uint32_t kDosEntryOffset = 0x200;
constexpr size_t kPeSectionSize = 0x8000;
constexpr size_t kComSize = 8 * 1024;
constexpr size_t kComEntryOffset = 0x1000;
constexpr size_t kTextSize = 64 * 1024;
constexpr size_t kTableStreamSize = 4 * 1024;
constexpr size_t kLargeFileSize = 8 * 1024 * 1024;
constexpr uint32_t kLargeFileSeed = 0x51A7E;

// A program's ordinary start: set DS, print a message, exit through DOS. Nothing a file
// infector's entry does.
const std::vector<uint8_t> kDosStartCode = {
    0xB8, 0x34, 0x12,  // mov ax, 1234h
    0x8E, 0xD8,        // mov ds, ax
    0xB4, 0x09,        // mov ah, 09h
    0xBA, 0x10, 0x00,  // mov dx, 0010h
    0xCD, 0x21,        // int 21h
    0xB8, 0x00, 0x4C,  // mov ax, 4C00h
    0xCD, 0x21,        // int 21h
};

// A 32-bit function prologue and a call into the image.
const std::vector<uint8_t> kPeStartCode = {
    0x55,                          // push ebp
    0x8B, 0xEC,                    // mov ebp, esp
    0x83, 0xEC, 0x10,              // sub esp, 10h
    0x6A, 0x00,                    // push 0
    0xE8, 0x20, 0x00, 0x00, 0x00,  // call +20h
    0x8B, 0xE5,                    // mov esp, ebp
    0x5D,                          // pop ebp
    0xC3,                          // ret
};

const std::vector<uint8_t> kComStartCode = {
    0xB4, 0x09,        // mov ah, 09h
    0xBA, 0x03, 0x01,  // mov dx, 0103h
    0xCD, 0x21,        // int 21h
    0xB8, 0x00, 0x4C,  // mov ax, 4C00h
    0xCD, 0x21,        // int 21h
};

constexpr std::string_view kProse =
    "Quarterly figures were reconciled against the ledger before the audit began. "
    "Each department filed its summary on time, and the archive was copied to tape.\r\n";

constexpr std::string_view kMacroText =
    "Sub AutoOpen()\r\n"
    "    ActiveDocument.Fields.Update\r\n"
    "    StatusBar = \"Fields updated\"\r\n"
    "End Sub\r\n";

std::vector<uint8_t> Text(size_t size) {
  std::vector<uint8_t> bytes;
  bytes.reserve(size);
  while (bytes.size() < size)
    bytes.push_back(static_cast<uint8_t>(kProse[bytes.size() % kProse.size()]));
  return bytes;
}

std::vector<uint8_t> DosExe() {
  return MzBuilder()
      .EntryAt(kDosEntryOffset)
      .Code(kDosEntryOffset, kDosStartCode)
      .Code(kDosEntryOffset + 0x40, Text(0x400))
      .Size(kDosExeSize)
      .Build();
}

std::vector<uint8_t> PeImage() {
  PeBuilder builder;
  builder.SectionRawSize(kPeSectionSize).SectionVirtualSize(kPeSectionSize);
  return builder.Code(builder.EntryFileOffset(), kPeStartCode).Build();
}

std::vector<uint8_t> ComProgram() {
  return ComBuilder()
      .JumpNear(kComEntryOffset)
      .Code(3, Text(kComEntryOffset - 3))
      .Code(kComEntryOffset, kComStartCode)
      .Size(kComSize)
      .Build();
}

std::vector<uint8_t> WordDocument() {
  std::vector<uint8_t> stream =
      WordDocumentStream().AddMacro({kMacroText.begin(), kMacroText.end()}, 0).Build();
  return CompoundFileWriter()
      .AddStream("WordDocument", std::move(stream))
      .AddStream("1Table", Text(kTableStreamSize))
      .Build();
}

// Noise of the kind a compressed archive holds, behind a gzip magic so it starts like one.
std::vector<uint8_t> LargeData() {
  std::vector<uint8_t> bytes(kLargeFileSize);
  std::mt19937 generator(kLargeFileSeed);
  for (size_t i = 0; i < bytes.size(); i += 4) {
    uint32_t word = generator();
    for (size_t k = 0; k < 4 && i + k < bytes.size(); ++k) {
      bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
    }
  }
  bytes[0] = 0x1F;
  bytes[1] = 0x8B;
  return bytes;
}

}  // namespace

std::vector<BenchFile> MakeBenchFiles() {
  return {
      {"dos_exe", DosExe()},           {"pe_image", PeImage()},
      {"com_near_jump", ComProgram()}, {"text_64k", Text(kTextSize)},
      {"word_macro", WordDocument()},  {"data_8m", LargeData()},
  };
}

}  // namespace quarn::bench
