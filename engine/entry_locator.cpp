#include "engine/entry_locator.h"

#include <span>

#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

// DOS header fields.
constexpr uint32_t kDosHeaderSize = 24;
constexpr int kHeaderParagraphsField = 8;
constexpr int kInitialIpField = 20;
constexpr int kInitialCsField = 22;
constexpr int kHeaderSizeField = 24;  // where the header size in bytes is kept
constexpr int kPeOffsetField = 0x3C;

// PE header fields, from the "PE" signature.
constexpr uint16_t kPeSignature = 0x4550;
constexpr int kOptionalHeaderSizeField = 0x14;
constexpr int kEntryPointField = 0x28;
constexpr int kBaseOfCodeField = 0x2C;
constexpr uint32_t kPeHeaderToOptionalHeader = 24;
// First section header.
constexpr uint32_t kSectionHeaderSize = 40;
constexpr int kRawDataPointerField = 0x14;

constexpr uint32_t kEntryCodeSize = 16;
constexpr uint8_t kShortJump = 0xEB;
constexpr uint8_t kNearJump = 0xE9;
constexpr uint8_t kFarCall = 0x9A;

// The move a first jump makes from just past the entry code that was read.
int64_t JumpMove(std::span<const uint8_t> code) {
  if (code[0] == kShortJump) {
    int64_t target = int64_t{code[1]} + 2;
    return target % 256 <= 16 ? target : target - 16;
  }
  int64_t target = int64_t{ReadU16(code, 1)} + 3;
  return target - 16;
}

}  // namespace

void LocateEntryCode(File& file, DetectorState& state) {
  std::span<const uint8_t> header(state.header_buffer);
  std::span<const uint8_t> code(state.entry_code_buffer);
  if (ReadAt(file, 0, state.header_buffer.data(), kDosHeaderSize) == 0) return;

  uint32_t paragraph_bytes = uint32_t{ReadU16(header, kHeaderParagraphsField)} * 16;
  uint16_t header_size = static_cast<uint16_t>(paragraph_bytes);
  WriteU16(&state.header_buffer[kHeaderSizeField], header_size);
  uint16_t ip = ReadU16(header, kInitialIpField);
  uint32_t entry = paragraph_bytes + ip + uint32_t{ReadU16(header, kInitialCsField)} * 16;

  uint32_t read = ReadAt(file, entry, state.entry_code_buffer.data(), kEntryCodeSize);
  if (read == 0) {
    entry = header_size;
    read = ReadAt(file, entry, state.entry_code_buffer.data(), kEntryCodeSize);
    if (read == 0) {
      state.entry_position = entry;
      return;
    }
  }

  if (code[0] == kShortJump || code[0] == kNearJump) {
    int64_t move = JumpMove(code);
    // The move counts from where the entry read left the file, which is short of 16 bytes
    // when the entry code ends the file.
    ReadAt(file, int64_t{entry} + read + move, state.entry_code_buffer.data(), kEntryCodeSize);
    entry = static_cast<uint32_t>(int64_t{entry} + move);
  } else if (code[0] == kFarCall && code[1] != 0) {
    entry = entry + ReadU32(code, 1) - ip;
    ReadAt(file, entry, state.entry_code_buffer.data(), kEntryCodeSize);
  }
  state.entry_position = entry;
}

int LocatePeEntry(File& file, DetectorState& state, uint32_t* pe_offset,
                  uint64_t* section_header_offset) {
  std::span<const uint8_t> header(state.header_buffer);
  if (ReadAt(file, 0, state.header_buffer.data(), kDetectorBufferSize) == 0) return 0;
  uint32_t pe = ReadU32(header, kPeOffsetField);
  ReadAt(file, pe, state.header_buffer.data(), kDetectorBufferSize);

  int result = 1;
  uint32_t entry = pe;
  uint64_t section_header = 0;
  if (ReadU16(header, 0) == kPeSignature) {
    result = 0;
    uint32_t entry_point = ReadU32(header, kEntryPointField);
    uint32_t base_of_code = ReadU32(header, kBaseOfCodeField);
    section_header =
        uint64_t{pe} + ReadU16(header, kOptionalHeaderSizeField) + kPeHeaderToOptionalHeader;
    // A section header read that delivers nothing leaves the PE header's bytes in place;
    // their raw-data field is then what the entry is measured from.
    ReadAt(file, static_cast<int64_t>(section_header), state.header_buffer.data(),
           kSectionHeaderSize);
    uint32_t raw = ReadU32(header, kRawDataPointerField);
    int32_t into_code = static_cast<int32_t>(entry_point - base_of_code);
    entry = into_code < 0 ? entry_point : static_cast<uint32_t>(into_code) + raw;
  }
  ReadAt(file, entry, state.entry_code_buffer.data(), kEntryCodeSize);
  state.entry_position = entry;
  *pe_offset = pe;
  *section_header_offset = section_header;
  return result;
}

}  // namespace quarn
