#include "bench/scan_tree/tree_files.h"

#include <algorithm>
#include <string_view>

#include "bench/scan_tree/tree_random.h"
#include "engine/test_support/compound_file_writer.h"
#include "engine/test_support/executable_builder.h"

namespace quarn::bench {
namespace {

using testing::ComBuilder;
using testing::CompoundFileWriter;
using testing::MzBuilder;
using testing::PeBuilder;
using testing::WordDocumentStream;

constexpr uint64_t kCorpusSeed = 0x7E47;
constexpr size_t kCorpusSize = 128 * 1024;
constexpr size_t kLargeProgramHeadSize = 16 * 1024;
constexpr size_t kDataHeadSize = 2 * 1024;
constexpr size_t kCodeToTextGap = 0x40;
constexpr size_t kPageAlignment = 0x200;
constexpr size_t kWordStreamReserve = 0x800;  // FIB, command table and macro text
constexpr size_t kCompoundOverhead = 4 * CompoundFileWriter::kSectorSize;

// Program starts that do what ordinary programs do: set up a segment, print a message
// through DOS and exit. The behaviour heuristics look for file services (open, read, write,
// seek) and infection markers; none of these starts uses any.
const std::vector<uint8_t> kDosStartCode = {
    0xB8, 0x34, 0x12,  // mov ax, 1234h
    0x8E, 0xD8,        // mov ds, ax
    0xB4, 0x09,        // mov ah, 09h
    0xBA, 0x10, 0x00,  // mov dx, 0010h
    0xCD, 0x21,        // int 21h
    0xB8, 0x00, 0x4C,  // mov ax, 4C00h
    0xCD, 0x21,        // int 21h
};

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

// A character device driver's header: no next driver, the character-device attribute, the
// strategy and interrupt routines just after it, then the device's eight-character name.
// The strategy routine saves the request pointer; the interrupt routine returns at once.
const std::vector<uint8_t> kDeviceDriverStart = {
    0xFF, 0xFF, 0xFF, 0xFF,                       // next driver: none
    0x00, 0x80,                                   // attribute: character device
    0x12, 0x00,                                   // strategy routine at 12h
    0x1D, 0x00,                                   // interrupt routine at 1Dh
    'T',  'R',  'E',  'E',  'D',  'R', 'V', ' ',  // device name
    0x2E, 0x89, 0x1E, 0x1E, 0x00,                 // mov cs:[001Eh], bx
    0x2E, 0x8C, 0x06, 0x20, 0x00,                 // mov cs:[0020h], es
    0xCB,                                         // retf
    0xCB,                                         // retf
    0x00, 0x00, 0x00, 0x00,                       // saved request pointer
};

constexpr std::string_view kSentences[] = {
    "Quarterly figures were reconciled against the ledger before the audit began. ",
    "Each department filed its summary on time, and the archive was copied to tape. ",
    "The printer on the second floor needs a new ribbon before Monday. ",
    "Minutes of the meeting: the budget for the new terminals was approved. ",
    "Please return the borrowed manuals to the library shelf by Friday. ",
    "The backup ran overnight and finished without errors at half past four. ",
    "Customer orders are entered in the morning and shipped in the afternoon. ",
    "The warehouse inventory was counted twice and the totals agree. ",
    "A reminder that the office closes early on the last day of the month. ",
    "Installation notes: copy the files to the hard disk and edit CONFIG.SYS. ",
    "The network cable in room twelve was replaced after the storm. ",
    "Sales rose in the northern region while the south held steady. ",
    "Release notes: the report module now sorts by date as well as by name. ",
    "The new modem connects at twice the speed of the old one. ",
    "Lunch orders for the training day should reach reception by ten. ",
};

// Harmless macros of the kind office templates carried: they update fields or set a
// status line and touch no other document.
constexpr std::string_view kMacroTexts[] = {
    "Sub AutoOpen()\r\n    ActiveDocument.Fields.Update\r\n"
    "    StatusBar = \"Fields updated\"\r\nEnd Sub\r\n",
    "Sub PrintLetter()\r\n    FilePrintDefault\r\nEnd Sub\r\n",
    "Sub InsertDate()\r\n    InsertDateTime .DateTimePic = \"d MMMM yyyy\"\r\nEnd Sub\r\n",
};

const std::vector<uint8_t>& Corpus() {
  static const std::vector<uint8_t> corpus = [] {
    std::vector<uint8_t> bytes;
    bytes.reserve(kCorpusSize + 128);
    TreeRandom random(kCorpusSeed);
    size_t line = 0;
    while (bytes.size() < kCorpusSize) {
      std::string_view sentence = kSentences[random.Below(std::size(kSentences))];
      bytes.insert(bytes.end(), sentence.begin(), sentence.end());
      if (++line % 3 == 0) {
        bytes.push_back('\r');
        bytes.push_back('\n');
      }
    }
    bytes.resize(kCorpusSize);
    return bytes;
  }();
  return corpus;
}

// `size` bytes of prose, starting at a place in the corpus the seed picks.
std::vector<uint8_t> Prose(size_t size, uint64_t seed) {
  const std::vector<uint8_t>& corpus = Corpus();
  std::vector<uint8_t> bytes(size);
  size_t from = static_cast<size_t>(seed % corpus.size());
  for (size_t i = 0; i < size; ++i) bytes[i] = corpus[(from + i) % corpus.size()];
  return bytes;
}

void FillNoise(uint64_t seed, uint64_t offset, std::span<uint8_t> bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const uint64_t position = offset + i;
    const uint64_t word = TreeRandom::At(seed, position / 8);
    for (uint64_t k = position % 8; k < 8 && i < bytes.size(); ++k, ++i) {
      bytes[i] = static_cast<uint8_t>(word >> (8 * k));
    }
  }
}

size_t Size(const PlannedFile& file) {
  return static_cast<size_t>(file.size);
}

std::vector<uint8_t> DosProgram(size_t size, uint64_t seed) {
  TreeRandom random(seed);
  const uint16_t header_paragraphs = random.Below(2) == 0 ? 2 : 32;
  const uint32_t entry = header_paragraphs * 16u + static_cast<uint32_t>(random.Below(16)) * 16;
  const size_t text_at = entry + kDosStartCode.size() + kCodeToTextGap;
  size = std::max(size, text_at);
  return MzBuilder()
      .HeaderParagraphs(header_paragraphs)
      .EntryAt(entry)
      .InitialSs(0x0100)
      .InitialSp(0x0400)
      .Code(entry, kDosStartCode)
      .Code(text_at, Prose(size - text_at, random.Next()))
      .Size(size)
      .Build();
}

// The builder puts the section's raw data at 0x200, where the entry point maps to; the file
// ends with the section, so its size is kept to whole 512-byte pages.
std::vector<uint8_t> PeProgram(size_t size, uint64_t seed) {
  const size_t pages = std::max<size_t>(size / kPageAlignment, 2);
  const auto raw = static_cast<uint32_t>((pages - 1) * kPageAlignment);
  PeBuilder builder;
  builder.SectionRawSize(raw).SectionVirtualSize(raw);
  const size_t entry = builder.EntryFileOffset();
  const size_t text_at = entry + kPeStartCode.size() + kCodeToTextGap;
  const size_t section_end = entry + raw;
  builder.Code(entry, kPeStartCode);
  if (section_end > text_at) builder.Code(text_at, Prose(section_end - text_at, seed));
  return builder.Build();
}

std::vector<uint8_t> ComProgram(size_t size, uint64_t seed) {
  TreeRandom random(seed);
  ComBuilder builder;
  size_t entry = 0;
  // Half the programs jump over their data to the code, as many did.
  if (random.Below(2) == 0 && size > 0x100) {
    entry = static_cast<size_t>(random.Between(0x20, std::min<uint64_t>(size / 2, 0x1000)));
    builder.JumpNear(entry).Code(3, Prose(entry - 3, random.Next()));
  }
  const size_t text_at = entry + kComStartCode.size();
  size = std::max(size, text_at);
  return builder.Code(entry, kComStartCode)
      .Code(text_at, Prose(size - text_at, random.Next()))
      .Size(size)
      .Build();
}

std::vector<uint8_t> DeviceDriver(size_t size, uint64_t seed) {
  std::vector<uint8_t> bytes = kDeviceDriverStart;
  if (size > bytes.size()) {
    std::vector<uint8_t> text = Prose(size - bytes.size(), seed);
    bytes.insert(bytes.end(), text.begin(), text.end());
  }
  return bytes;
}

std::vector<uint8_t> WordDocument(size_t size, uint64_t seed) {
  std::string_view macro = kMacroTexts[seed % std::size(kMacroTexts)];
  std::vector<uint8_t> stream =
      WordDocumentStream().AddMacro({macro.begin(), macro.end()}, 0).Build();
  const size_t used = kWordStreamReserve + kCompoundOverhead;
  const size_t table_size = size > used ? size - used : CompoundFileWriter::kSectorSize;
  return CompoundFileWriter()
      .AddStream("WordDocument", std::move(stream))
      .AddStream("1Table", Prose(table_size, seed >> 8))
      .Build();
}

// The start of a data file: an archive's magic (or none) and a catalogue of readable text.
// Noise is left out of the first kDataHeadSize bytes on purpose: read as code, as the
// heuristics and the decryptor tracers read a file's start, noise now and then happens to
// form a decryption loop, and a benchmark tree must scan clean whatever its seed.
std::vector<uint8_t> DataHead(uint64_t seed) {
  static constexpr uint8_t kZipMagic[] = {'P', 'K', 3, 4};
  static constexpr uint8_t kGzipMagic[] = {0x1F, 0x8B, 8, 0};
  std::vector<uint8_t> head = Prose(kDataHeadSize, seed);
  std::span<const uint8_t> magic;
  if (seed % 3 == 1) magic = kZipMagic;
  if (seed % 3 == 2) magic = kGzipMagic;
  std::copy(magic.begin(), magic.end(), head.begin());
  return head;
}

// Places `head` over the bytes of `chunk`, which start at file offset `offset`.
void OverlayHead(const std::vector<uint8_t>& head, uint64_t offset, std::span<uint8_t> chunk) {
  if (offset >= head.size()) return;
  const auto from = static_cast<size_t>(offset);
  const size_t count = std::min(chunk.size(), head.size() - from);
  std::copy_n(head.begin() + static_cast<ptrdiff_t>(from), count, chunk.begin());
}

std::vector<uint8_t> RandomData(size_t size, uint64_t seed) {
  std::vector<uint8_t> bytes(size);
  FillNoise(seed, 0, bytes);
  OverlayHead(DataHead(seed), 0, bytes);
  return bytes;
}

}  // namespace

bool IsLarge(FileKind kind) {
  return kind == FileKind::kLargeProgram || kind == FileKind::kLargeData;
}

std::vector<uint8_t> BuildFileBytes(const PlannedFile& file) {
  switch (file.kind) {
    case FileKind::kDosProgram:
      return DosProgram(Size(file), file.seed);
    case FileKind::kPeProgram:
      return PeProgram(Size(file), file.seed);
    case FileKind::kComProgram:
      return ComProgram(Size(file), file.seed);
    case FileKind::kDeviceDriver:
      return DeviceDriver(Size(file), file.seed);
    case FileKind::kWordDocument:
      return WordDocument(Size(file), file.seed);
    case FileKind::kText:
      return Prose(Size(file), file.seed);
    case FileKind::kRandomData:
      return RandomData(Size(file), file.seed);
    case FileKind::kLargeProgram:
    case FileKind::kLargeData:
      break;
  }
  return {};
}

void FillLargeChunk(const PlannedFile& file, uint64_t offset, std::span<uint8_t> chunk) {
  FillNoise(file.seed, offset, chunk);
  if (offset >= kLargeProgramHeadSize && offset >= kDataHeadSize) return;
  // A large program is a small one whose header declares only itself: the rest of the file
  // is an overlay, as with self-extracting archives and installers.
  OverlayHead(file.kind == FileKind::kLargeProgram ? DosProgram(kLargeProgramHeadSize, file.seed)
                                                   : DataHead(file.seed),
              offset, chunk);
}

}  // namespace quarn::bench
