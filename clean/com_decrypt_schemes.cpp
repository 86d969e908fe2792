#include "clean/com_decrypt_schemes.h"

#include <optional>

#include "engine/skip_instruction.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

// EncryptedComCleanRecord parameter fields. A key offset counts from the virus start unless
// said otherwise.
constexpr int kStartValueField = 14;           // 1: u16 A
constexpr int kSizeBiasField = 16;             // 1: u16, subtracted from the file size
constexpr int kKeyLoadOpcodeField = 14;        // 2: u8
constexpr int kDecryptorOffsetField = 15;      // 2: u16, from the first byte after the saved ones
constexpr int kKeyOffsetField = 14;            // 3, 6, 8, 9, 10, 12: u16
constexpr int kAddedKeyOffsetField = 14;       // 4: u16
constexpr int kSubtractedKeyOffsetField = 16;  // 4: u16
constexpr int kExtraDistanceField = 14;        // 5: u8
constexpr int kSavedKeyOffsetField = 15;       // 5: u16, from the start of the saved bytes
constexpr int kKeyBiasField = 16;              // 6: u16
constexpr int kByteOrderField = 16;            // 8, 10: u8, non-zero = high byte first
constexpr int kSwappedWordCountField = 17;     // 8: u16
constexpr int kAddendField = 16;               // 9: u8
constexpr int kWordCountField = 17;            // 10: u8
constexpr int kDestinationField = 18;          // 10: u8, a buffer offset
constexpr int kSourceField = 19;               // 10: u16, a buffer offset
constexpr int kKeyPairAField = 14;             // 11: u16
constexpr int kKeyPairBField = 16;             // 11: u16

constexpr uint32_t kDecryptorScanSize = 64;
constexpr uint32_t kKeyWordLength = 2;
// Scheme 11's key is stepped back over the virus body from this distance to the saved bytes.
constexpr uint32_t kKeyRunDistance = 1646;
constexpr uint32_t kParagraphSize = 16;
// Schemes 11 and 12 encipher only the bytes of the jump.
constexpr uint32_t kJumpLength = 3;
// The bytes of the work buffer a record may address; the spare byte is the transform's own.
constexpr uint32_t kWorkBytes = kMaxSavedBytes;

using Infection = EncryptedComInfection;

uint8_t Lo(uint16_t word) {
  return static_cast<uint8_t>(word);
}

uint8_t Hi(uint16_t word) {
  return static_cast<uint8_t>(word >> 8);
}

// Words at successive offsets overlap by a byte, so the order of the operations matters.
void XorWordAt(DecryptBuffer& work, uint32_t offset, uint16_t value) {
  work[offset] ^= Lo(value);
  work[offset + 1] ^= Hi(value);
}

std::optional<uint8_t> FileByte(File& file, uint64_t offset) {
  uint8_t byte = 0;
  if (!ReadExactlyAt(file, offset, &byte, 1)) return std::nullopt;
  return byte;
}

std::optional<uint16_t> FileWord(File& file, uint64_t offset) {
  std::array<uint8_t, kKeyWordLength> bytes{};
  if (!ReadExactlyAt(file, offset, bytes.data(), kKeyWordLength)) return std::nullopt;
  return ReadU16(bytes, 0);
}

// The key byte or word at the offset `field` holds, counted from the virus start.
std::optional<uint8_t> KeyByte(const Infection& in, int field) {
  return FileByte(in.file, in.virus_start + ReadU16(in.record, field));
}

std::optional<uint16_t> KeyWord(const Infection& in, int field) {
  return FileWord(in.file, in.virus_start + ReadU16(in.record, field));
}

uint32_t SavedLength(const Infection& in) {
  return in.fields.saved_length;
}

// The file position just after the saved bytes.
uint64_t SavedEnd(const Infection& in) {
  return in.virus_start + in.fields.saved_offset + in.fields.saved_length;
}

bool RunningWordPair(const Infection& in, DecryptBuffer& work) {
  const uint16_t start = ReadU16(in.record, kStartValueField);
  const auto from_size = static_cast<uint16_t>(in.file_size - ReadU16(in.record, kSizeBiasField));
  work[0] ^= Hi(start) ^ Hi(from_size);
  for (uint32_t i = 0; i < SavedLength(in); ++i) {
    XorWordAt(work, i, static_cast<uint16_t>((start - i) ^ (from_size + i)));
  }
  return true;
}

bool LoadedKeyStep(const Infection& in, DecryptBuffer& work) {
  const uint8_t opcode = ReadU8(in.record, kKeyLoadOpcodeField);
  std::array<uint8_t, kDecryptorScanSize> code{};
  const uint32_t read =
      ReadFullyAt(in.file, SavedEnd(in) + ReadU16(in.record, kDecryptorOffsetField), code.data(),
                  kDecryptorScanSize);
  uint32_t at = 0;
  while (at < kDecryptorScanSize && code[at] != opcode) SkipInstruction(code, &at);
  if (at >= kDecryptorScanSize || at + 1 + kKeyWordLength > read) return false;
  const uint16_t key = ReadU16(code, at + 1);
  // The virus steps the key once per body byte from offset 0 to the saved bytes.
  auto running = static_cast<uint8_t>(Lo(key) + uint32_t{in.fields.saved_offset} * Hi(key));
  for (uint32_t i = 0; i < SavedLength(in); ++i) {
    work[i] ^= running;
    running = static_cast<uint8_t>(running + Hi(key));
  }
  return true;
}

bool FoldedWord(const Infection& in, DecryptBuffer& work) {
  const std::optional<uint16_t> key = KeyWord(in, kKeyOffsetField);
  if (!key) return false;
  const uint8_t folded = Lo(*key) ^ Hi(*key);
  for (uint32_t i = 0; i < SavedLength(in); ++i) work[i] ^= folded;
  return true;
}

bool AddedAndSubtracted(const Infection& in, DecryptBuffer& work) {
  const std::optional<uint8_t> added = KeyByte(in, kAddedKeyOffsetField);
  const std::optional<uint8_t> subtracted = KeyByte(in, kSubtractedKeyOffsetField);
  if (!added || !subtracted) return false;
  for (uint32_t i = 0; i < SavedLength(in); ++i) {
    work[i] = static_cast<uint8_t>(work[i] + *added - *subtracted);
  }
  return true;
}

bool AddedPastSaved(const Infection& in, DecryptBuffer& work) {
  const uint16_t key_offset = ReadU16(in.record, kSavedKeyOffsetField);
  if (key_offset < SavedLength(in)) return false;
  const std::optional<uint8_t> key =
      FileByte(in.file, SavedEnd(in) + (key_offset - SavedLength(in)) +
                            ReadU8(in.record, kExtraDistanceField));
  if (!key) return false;
  for (uint32_t i = 0; i < SavedLength(in); ++i) work[i] = static_cast<uint8_t>(work[i] + *key);
  return true;
}

bool FallingWord(const Infection& in, DecryptBuffer& work) {
  const std::optional<uint16_t> key = KeyWord(in, kKeyOffsetField);
  if (!key) return false;
  auto value = static_cast<uint16_t>(*key - ReadU16(in.record, kKeyBiasField));
  work[0] ^= Hi(value);
  for (uint32_t i = 0; i < SavedLength(in); ++i) {
    --value;
    XorWordAt(work, i, value);
  }
  return true;
}

// The saved bytes are kept plain a second time, counted from the paragraph the host ends in.
bool PlainAtParagraph(const Infection& in, DecryptBuffer& work) {
  if (in.fields.virus_length > in.file_size) return false;
  const uint64_t paragraph =
      (in.file_size - in.fields.virus_length) / kParagraphSize * kParagraphSize;
  return ReadExactlyAt(in.file, paragraph + in.fields.saved_offset, work.data(), SavedLength(in));
}

bool AlternatingBytes(const Infection& in, DecryptBuffer& work) {
  const std::optional<uint16_t> key = KeyWord(in, kKeyOffsetField);
  if (!key) return false;
  if (ReadU8(in.record, kByteOrderField) == 0) {
    if (SavedLength(in) > kWorkBytes / 2) return false;
    for (uint32_t i = 0; i < SavedLength(in); ++i) work[i] ^= (i % 2 == 0) ? Lo(*key) : Hi(*key);
    return true;
  }
  const uint32_t words = ReadU16(in.record, kSwappedWordCountField);
  if (words < 2 || 2 * words > kWorkBytes) return false;
  for (uint32_t i = 0; i < 2 * words; ++i) work[i] ^= (i % 2 == 0) ? Hi(*key) : Lo(*key);
  return true;
}

bool XorThenAdd(const Infection& in, DecryptBuffer& work) {
  const std::optional<uint8_t> key = KeyByte(in, kKeyOffsetField);
  if (!key) return false;
  const uint8_t addend = ReadU8(in.record, kAddendField);
  for (uint32_t i = 0; i < SavedLength(in); ++i) {
    work[i] = static_cast<uint8_t>((work[i] ^ *key) + addend);
  }
  return true;
}

bool WordsThenMove(const Infection& in, DecryptBuffer& work) {
  const bool swapped = ReadU8(in.record, kByteOrderField) != 0;
  const uint32_t length = 2 * uint32_t{ReadU8(in.record, kWordCountField)};
  const uint32_t destination = ReadU8(in.record, kDestinationField);
  const uint32_t source = ReadU16(in.record, kSourceField);
  if (swapped && length < 4) return false;
  if (source + 2 > kWorkBytes || destination + 2 > kWorkBytes) return false;
  const uint64_t saved_at = in.virus_start + in.fields.saved_offset;
  if (!ReadExactlyAt(in.file, saved_at, work.data(), length)) return false;
  const std::optional<uint16_t> key = KeyWord(in, kKeyOffsetField);
  if (!key) return false;
  const uint8_t even = swapped ? Hi(*key) : Lo(*key);
  const uint8_t odd = swapped ? Lo(*key) : Hi(*key);
  for (uint32_t i = 0; i < length; ++i) work[i] ^= (i % 2 == 0) ? even : odd;
  const uint16_t moved = ReadU16(work, source);
  work[destination] = Lo(moved);
  work[destination + 1] = Hi(moved);
  return true;
}

bool SteppedKeyPairs(const Infection& in, DecryptBuffer& work) {
  const std::optional<uint16_t> pair_a = KeyWord(in, kKeyPairAField);
  const std::optional<uint16_t> pair_b = KeyWord(in, kKeyPairBField);
  if (!pair_a || !pair_b) return false;
  const uint8_t start = Lo(*pair_a);
  const uint8_t step = Lo(*pair_b);
  // The virus steps back from kKeyRunDistance; modulo 2^32 the product also covers saved
  // offsets beyond that distance, and the low byte is all that counts.
  auto running =
      static_cast<uint8_t>(start - (kKeyRunDistance - uint32_t{in.fields.saved_offset}) * step);
  for (uint32_t i = 0; i < kJumpLength; ++i) {
    work[i] ^= running;
    running = static_cast<uint8_t>(running + step);
  }
  return true;
}

bool ComplementLess(const Infection& in, DecryptBuffer& work) {
  const std::optional<uint8_t> key = KeyByte(in, kKeyOffsetField);
  if (!key) return false;
  for (uint32_t i = 0; i < kJumpLength; ++i) work[i] = static_cast<uint8_t>(~work[i] - *key);
  return true;
}

using Scheme = bool (*)(const Infection&, DecryptBuffer&);

// In scheme order, scheme 1 first.
constexpr Scheme kSchemes[] = {
    RunningWordPair, LoadedKeyStep, FoldedWord,       AddedAndSubtracted,
    AddedPastSaved,  FallingWord,   PlainAtParagraph, AlternatingBytes,
    XorThenAdd,      WordsThenMove, SteppedKeyPairs,  ComplementLess,
};
static_assert(std::size(kSchemes) == kLastDecryptScheme - kFirstDecryptScheme + 1);

}  // namespace

bool DecipherSavedBytes(uint16_t scheme, const EncryptedComInfection& infection,
                        DecryptBuffer& work) {
  if (scheme < kFirstDecryptScheme || scheme > kLastDecryptScheme) return false;
  return kSchemes[scheme - kFirstDecryptScheme](infection, work);
}

}  // namespace quarn
