#include "imported/matching/pe_layout.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "platform/byte_reader.h"

namespace quarn {
namespace {

constexpr uint32_t kDosHeaderSize = 0x40;
constexpr uint32_t kPeOffsetField = 0x3C;  // e_lfanew
// From the "PE\0\0" signature.
constexpr uint32_t kSectionCountField = 6;
constexpr uint32_t kOptionalHeaderSizeField = 20;
constexpr uint32_t kOptionalHeaderStart = 24;
// Within the optional header; the same in PE32 and PE32+ up to the directory count.
constexpr uint32_t kMagicField = 0;
constexpr uint32_t kEntryPointField = 16;
constexpr uint32_t kSectionAlignmentField = 32;
constexpr uint32_t kFileAlignmentField = 36;
constexpr uint32_t kHeadersSizeField = 60;
constexpr uint16_t kPe32PlusMagic = 0x20B;
// The fixed part before the data directories, and where the directory count lies in it.
constexpr uint32_t kPe32FixedSize = 96;
constexpr uint32_t kPe32PlusFixedSize = 112;
constexpr uint32_t kPe32DirectoryCountField = 92;
constexpr uint32_t kPe32PlusDirectoryCountField = 108;
constexpr uint32_t kMaxDirectories = 16;
constexpr uint32_t kDirectorySize = 8;
// Within a section header.
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kVirtualSizeField = 8;
constexpr uint32_t kVirtualAddressField = 12;
constexpr uint32_t kRawSizeField = 16;
constexpr uint32_t kRawPointerField = 20;
// The alignment raw pointers fall back to when a section's pointer is aligned to it but not
// to the declared one.
constexpr uint32_t kFallbackFileAlignment = 0x200;

// Rounded down and up to a multiple of `alignment`; an alignment of 0 leaves the value.
// Both wrap as the 32-bit fields they stand for do.
uint32_t AlignDown(uint32_t value, uint32_t alignment) {
  return alignment == 0 ? value : value / alignment * alignment;
}
uint32_t AlignUp(uint32_t value, uint32_t alignment) {
  return alignment == 0 ? value
                        : static_cast<uint32_t>((value / alignment + (value % alignment != 0)) *
                                                uint64_t{alignment});
}

bool SignBit(uint32_t value) {
  return (value >> 31) != 0;
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

// The headers as the loader of a signature's offsets sees them.
struct LoaderView {
  uint32_t entry = 0;         // AddressOfEntryPoint
  uint32_t headers_size = 0;  // SizeOfHeaders rounded up to the section alignment
  uint32_t section_alignment = 0;
  uint32_t file_alignment = 0;
  uint64_t table = 0;  // file offset of the section table
  uint32_t count = 0;
};

// A section as mapped: its virtual address and raw pointer rounded down to their alignments,
// its raw size rounded up to the file alignment and cut to the file.
struct MappedSection {
  uint32_t address = 0;
  PeSection raw;
};

// The file offset of `address`: in the headers it is its own offset; else through the last
// section in the table whose raw bytes hold it.
std::optional<uint64_t> FileOffsetOf(uint32_t address, const LoaderView& view,
                                     const std::vector<MappedSection>& sections, uint64_t size) {
  if (address < view.headers_size) {
    if (address >= size) return std::nullopt;
    return address;
  }
  for (auto section = sections.rbegin(); section != sections.rend(); ++section) {
    if (section->raw.raw_size != 0 && section->address <= address &&
        section->raw.raw_size > address - section->address) {
      return section->raw.raw_offset + (address - section->address);
    }
  }
  return std::nullopt;
}

// The optional header's facts, or nothing when it is too short for what it declares.
std::optional<LoaderView> ReadView(File& file, uint64_t pe, std::span<const uint8_t> file_header,
                                   uint64_t size) {
  LoaderView view;
  view.count = ReadU16(file_header, kSectionCountField);
  const uint32_t declared = ReadU16(file_header, kOptionalHeaderSizeField);
  if (view.count == 0 || view.count > kMaxPeSections || declared < kPe32FixedSize) {
    return std::nullopt;
  }
  std::array<uint8_t, kPe32PlusFixedSize> optional{};
  const uint64_t start = pe + kOptionalHeaderStart;
  if (!ReadAt(file, start, optional.data(), kPe32FixedSize)) return std::nullopt;
  uint32_t fixed = kPe32FixedSize;
  uint32_t count_field = kPe32DirectoryCountField;
  if (ReadU16(optional, kMagicField) == kPe32PlusMagic) {
    fixed = kPe32PlusFixedSize;
    count_field = kPe32PlusDirectoryCountField;
    if (declared < fixed || !ReadAt(file, start + kPe32FixedSize, optional.data() + kPe32FixedSize,
                                    kPe32PlusFixedSize - kPe32FixedSize)) {
      return std::nullopt;
    }
  }
  // The directories the header counts must lie inside it and inside the file.
  const uint32_t directories = std::min(ReadU32(optional, count_field), kMaxDirectories);
  const uint64_t needed = uint64_t{fixed} + directories * kDirectorySize;
  if (declared < needed || start + needed > size) return std::nullopt;
  view.entry = ReadU32(optional, kEntryPointField);
  view.section_alignment = ReadU32(optional, kSectionAlignmentField);
  view.file_alignment = ReadU32(optional, kFileAlignmentField);
  view.headers_size = AlignUp(ReadU32(optional, kHeadersSizeField), view.section_alignment);
  view.table = start + declared;
  return view;
}

// The sections and the entry point as the loader maps them, or nothing when the headers are
// ones it refuses (a field with its sign bit set, an entry point that maps to no byte of
// the file): then no rule relative to the image can hold.
std::optional<PeLayout> MapSections(File& file, LoaderView view, uint64_t size) {
  std::array<uint8_t, kMaxPeSections * kSectionHeaderSize> headers;
  if (!ReadAt(file, view.table, headers.data(), view.count * kSectionHeaderSize)) {
    return std::nullopt;
  }
  const auto header = [&](uint32_t index) {
    return std::span<const uint8_t>(headers).subspan(index * kSectionHeaderSize,
                                                     kSectionHeaderSize);
  };
  // A pointer aligned to 0x200 but not to a larger declared alignment puts the whole
  // table on 0x200.
  for (uint32_t index = 0; view.file_alignment != kFallbackFileAlignment && index < view.count;
       ++index) {
    const uint32_t pointer = ReadU32(header(index), kRawPointerField);
    if (view.file_alignment != 0 && ReadU32(header(index), kRawSizeField) != 0 &&
        pointer % view.file_alignment != 0 && pointer % kFallbackFileAlignment == 0) {
      view.file_alignment = kFallbackFileAlignment;
    }
  }
  std::vector<MappedSection> sections;
  for (uint32_t index = 0; index < view.count; ++index) {
    const uint32_t address = ReadU32(header(index), kVirtualAddressField);
    const uint32_t pointer = ReadU32(header(index), kRawPointerField);
    const uint32_t raw_size = ReadU32(header(index), kRawSizeField);
    MappedSection section;
    section.address = AlignDown(address, view.section_alignment);
    section.raw.raw_offset = AlignDown(pointer, view.file_alignment);
    section.raw.raw_size = AlignUp(raw_size, view.file_alignment);
    if (section.raw.raw_size != 0) {
      if (section.raw.raw_offset >= size || pointer >= size) {
        section.raw.raw_size = 0;
      } else {
        section.raw.raw_size = std::min(section.raw.raw_size, size - section.raw.raw_offset);
      }
    }
    if (SignBit(address) || SignBit(ReadU32(header(index), kVirtualSizeField)) ||
        (section.raw.raw_size != 0 && SignBit(pointer)) || SignBit(raw_size)) {
      return std::nullopt;
    }
    sections.push_back(section);
  }
  PeLayout layout;
  layout.entry_point = FileOffsetOf(view.entry, view, sections, size);
  if (!layout.entry_point) return std::nullopt;
  for (const MappedSection& section : sections) layout.sections.push_back(section.raw);
  return layout;
}

}  // namespace

std::optional<PeLayout> ReadPeLayout(File& file) {
  const std::optional<uint64_t> size = file.Size();
  std::array<uint8_t, kDosHeaderSize> dos;
  if (!size || !ReadAt(file, 0, dos.data(), 2) || dos[0] != 'M' || dos[1] != 'Z') {
    return std::nullopt;
  }
  // Every "MZ" file is an executable that patterns for PE files are looked for in; only a PE
  // image whose headers the loader takes has a layout to map.
  std::array<uint8_t, kOptionalHeaderStart> file_header;
  if (!ReadAt(file, 0, dos.data(), kDosHeaderSize)) return PeLayout();
  const uint64_t pe = ReadU32(dos, kPeOffsetField);
  if (!ReadAt(file, pe, file_header.data(), kOptionalHeaderStart) ||
      std::memcmp(file_header.data(), "PE\0\0", 4) != 0) {
    return PeLayout();
  }
  const std::optional<LoaderView> view = ReadView(file, pe, file_header, *size);
  if (!view) return PeLayout();
  return MapSections(file, *view, *size).value_or(PeLayout());
}

}  // namespace quarn
