#include "imported/pe_layout.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace quarn {
namespace {

constexpr uint32_t kDosHeaderSize = 0x40;
constexpr uint32_t kPeOffsetField = 0x3C;  // e_lfanew
// From the "PE\0\0" signature.
constexpr uint32_t kSectionCountField = 6;
constexpr uint32_t kOptionalHeaderSizeField = 20;
constexpr uint32_t kOptionalHeaderStart = 24;
constexpr uint32_t kEntryPointField = kOptionalHeaderStart + 16;
// Within a section header.
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kVirtualAddressField = 12;
constexpr uint32_t kRawSizeField = 16;
constexpr uint32_t kRawPointerField = 20;

uint16_t U16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

uint32_t U32(const uint8_t* bytes) {
  return static_cast<uint32_t>(U16(bytes)) | static_cast<uint32_t>(U16(bytes + 2)) << 16;
}

// Exactly `length` bytes at `offset`, or false.
bool ReadAt(File& file, uint64_t offset, uint8_t* buffer, uint32_t length) {
  if (!file.Seek(static_cast<int64_t>(offset), SeekOrigin::kBegin)) return false;
  uint32_t done = 0;
  while (done < length) {
    const uint32_t got = file.Read(buffer + done, length - done);
    if (got == 0) return false;
    done += got;
  }
  return true;
}

// The section table and the entry point mapped through it. The table is taken whole or not
// at all: one that is empty, too long or cut short by the end of the file is no layout a
// section rule can trust.
void ReadSections(File& file, uint64_t table, uint32_t count, uint32_t entry, uint64_t size,
                  PeLayout& layout) {
  if (count == 0 || count > kMaxPeSections) return;
  std::array<uint8_t, kMaxPeSections * kSectionHeaderSize> headers;
  if (!ReadAt(file, table, headers.data(), count * kSectionHeaderSize)) return;
  for (uint32_t index = 0; index < count; ++index) {
    const uint8_t* header = headers.data() + index * kSectionHeaderSize;
    PeSection section;
    section.raw_offset = U32(header + kRawPointerField);
    const uint64_t declared = U32(header + kRawSizeField);
    section.raw_size =
        section.raw_offset < size ? std::min(declared, size - section.raw_offset) : 0;
    layout.sections.push_back(section);
    // The first section whose bytes in the file hold the entry point gives its offset.
    const uint32_t address = U32(header + kVirtualAddressField);
    if (!layout.entry_point && entry >= address && entry - address < section.raw_size) {
      layout.entry_point = section.raw_offset + (entry - address);
    }
  }
}

}  // namespace

std::optional<PeLayout> ReadPeLayout(File& file) {
  const std::optional<uint64_t> size = file.Size();
  std::array<uint8_t, kDosHeaderSize> dos;
  if (!size || !ReadAt(file, 0, dos.data(), kDosHeaderSize) || dos[0] != 'M' || dos[1] != 'Z') {
    return std::nullopt;
  }
  const uint64_t pe = U32(dos.data() + kPeOffsetField);
  std::array<uint8_t, 4> signature;
  if (pe + 4 > *size || !ReadAt(file, pe, signature.data(), 4) ||
      std::memcmp(signature.data(), "PE\0\0", 4) != 0) {
    return std::nullopt;
  }
  PeLayout layout;
  // A PE image whose headers are cut short is still one; it has no sections to map.
  std::array<uint8_t, kEntryPointField + 4> headers;
  if (!ReadAt(file, pe, headers.data(), static_cast<uint32_t>(headers.size()))) return layout;
  const uint64_t table = pe + kOptionalHeaderStart + U16(headers.data() + kOptionalHeaderSizeField);
  ReadSections(file, table, U16(headers.data() + kSectionCountField),
               U32(headers.data() + kEntryPointField), *size, layout);
  return layout;
}

}  // namespace quarn
