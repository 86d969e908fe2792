#include "clean/exe_decrypt_schemes.h"

#include <array>

#include "engine/skip_instruction.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

// Scheme 1 reads two bytes beyond the scanned ones, so that an opcode in the scan's last
// bytes still has its whole immediate operand.
constexpr uint32_t kKeyWordSize = 2;
constexpr uint32_t kKeyScanReadSize = kKeyScanLength + kKeyWordSize;
constexpr uint32_t kOpcodeSize = 1;

// Reads `length` (1 or 2) key bytes at virus start + `offset`, only from inside the file.
std::optional<SchemeKey> ReadKeyBytes(File& file, const AppendedBody& body, uint64_t offset,
                                      uint32_t length) {
  if (!BodyBytesInFile(body, offset, length)) return std::nullopt;
  std::array<uint8_t, kKeyWordSize> bytes{};
  if (ReadAt(file, static_cast<int64_t>(body.virus_start + offset), bytes.data(), length) !=
      length) {
    return std::nullopt;
  }
  return SchemeKey{bytes[0], bytes[1]};
}

// Scheme 1: the immediate of the first key-load instruction the decryptor's walk meets.
std::optional<SchemeKey> FindLoadedKey(File& file, std::span<const uint8_t> record,
                                       const AppendedBody& body) {
  const uint8_t opcode = ReadU8(record, kScheme1OpcodeField);
  const uint64_t decryptor = ReadU16(record, kScheme1DecryptorField);
  std::array<uint8_t, kKeyScanReadSize> scan{};
  const uint32_t read = ReadAt(file, static_cast<int64_t>(body.virus_start + decryptor),
                               scan.data(), kKeyScanReadSize);
  uint32_t at = 0;
  while (scan[at] != opcode) {
    SkipInstruction(scan, &at);
    if (at >= kKeyScanLength) return std::nullopt;
  }
  // Bytes the file did not deliver are not code: an opcode or key found there is no key.
  if (at + kOpcodeSize + kKeyWordSize > read) return std::nullopt;
  return SchemeKey{scan[at + 1], scan[at + 2]};
}

uint16_t Word(uint8_t b0, uint8_t b1) {
  return static_cast<uint16_t>(b0 | (b1 << 8));
}

}  // namespace

std::optional<SchemeKey> ReadSchemeKey(File& file, std::span<const uint8_t> record,
                                       const AppendedBody& body) {
  const uint16_t key_offset = ReadU16(record, kKeyOffsetField);
  switch (ReadU16(record, kDecryptSchemeField)) {
    case 1:
      return FindLoadedKey(file, record, body);
    case 2:
      return ReadKeyBytes(
          file, body,
          uint64_t{ReadU16(record, kScheme2KeyField)} + ReadU8(record, kScheme2ExtraField), 1);
    case 3:
    case 7:
      return ReadKeyBytes(file, body, key_offset, 2);
    case 4:
    case 6:
      return ReadKeyBytes(file, body, key_offset, 1);
    case 9: {
      // Only K0 and K2 take part; K1 and K3 need not be there.
      std::optional<SchemeKey> pair_a =
          ReadKeyBytes(file, body, ReadU16(record, kScheme9PairAField), 1);
      std::optional<SchemeKey> pair_b =
          ReadKeyBytes(file, body, ReadU16(record, kScheme9PairBField), 1);
      if (!pair_a || !pair_b) return std::nullopt;
      return SchemeKey{pair_a->low, pair_b->low};
    }
    default:
      return SchemeKey{};
  }
}

uint8_t Scheme1RunningKey(SchemeKey key, uint16_t offset) {
  return static_cast<uint8_t>(key.low + uint32_t{offset} * key.high);
}

uint8_t Scheme9RunningKey(SchemeKey key, uint16_t offset) {
  // Unsigned wrap-around keeps the result right modulo 256 also past the anchor.
  const uint32_t steps_back = uint32_t{kScheme9KeyAnchor} - offset;
  return static_cast<uint8_t>(key.low - steps_back * key.high);
}

uint16_t DecipherSavedWord(std::span<const uint8_t> record, SchemeKey key, int field_index,
                           uint16_t offset, uint8_t b0, uint8_t b1, uint16_t current) {
  const uint8_t lo = key.low;
  const uint8_t hi = key.high;
  switch (ReadU16(record, kDecryptSchemeField)) {
    case 1: {
      const uint8_t k = Scheme1RunningKey(key, offset);
      const uint8_t adjust = ReadU8(record, kAdjustFields + field_index);
      return static_cast<uint16_t>(Word(b0 ^ k, b1 ^ static_cast<uint8_t>(k + hi)) - adjust);
    }
    case 2: {
      const uint8_t adjust = ReadU8(record, kAdjustFields + field_index);
      return static_cast<uint16_t>(Word(b0 + lo, b1 + lo) - adjust);
    }
    case 3:
      switch (ReadU8(record, kScheme3ModeFields + field_index)) {
        case 0:
          return Word(b0 ^ lo, b1 ^ hi);
        case 1:
          return Word(b0 ^ hi, b1 ^ lo);
        case 2:
          return Word(b0 ^ lo, b1 ^ hi ^ lo);
        default:
          return Word(b0 ^ hi ^ lo, b1 ^ hi ^ lo);
      }
    case 4:
      return Word(b0 ^ lo, b1 ^ lo);
    case 6: {
      const uint8_t addend = ReadU8(record, kScheme6AddendField);
      return Word((b0 ^ lo) + addend, (b1 ^ lo) + addend);
    }
    case 7:
      return static_cast<uint16_t>(~(Word(b0, b1) ^ Word(lo, hi)));
    case 8:
      switch (ReadU8(record, kScheme8ModeFields + field_index)) {
        case 1:
          return static_cast<uint16_t>(current + Word(b0, b1));
        case 2:
          return static_cast<uint16_t>(current - Word(b0, b1));
        default:
          return Word(b0, b1);
      }
    case 9: {
      const uint8_t k = Scheme9RunningKey(key, offset);
      return Word(b0 ^ k, b1 ^ static_cast<uint8_t>(k + hi));
    }
    default:
      return Word(b0, b1);
  }
}

}  // namespace quarn
