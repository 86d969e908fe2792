#include "engine/test_support/executable_builder.h"

#include <algorithm>

namespace quarn::testing {
namespace {

constexpr size_t kMzMinimumSize = 0x1C;  // the fixed part of the DOS header
constexpr size_t kMzWithPeOffsetSize = 0x40;
constexpr size_t kPageSize = 512;
// PE fields the readers under test do not look at, filled so the image looks ordinary.
constexpr size_t kPeCharacteristicsOffset = 22;
constexpr size_t kPeImageBaseOffset = 0x34;
constexpr size_t kPeSectionAlignmentOffset = 0x38;
constexpr size_t kPeFileAlignmentOffset = 0x3C;
constexpr size_t kPeFileAlignmentEnd = 0x40;
constexpr size_t kPeHeadersSizeOffset = 0x54;
constexpr size_t kPeHeadersSizeEnd = 0x58;
constexpr size_t kSectionCharacteristicsOffset = 36;

void Grow(std::vector<uint8_t>* image, size_t size) {
  if (image->size() < size) image->resize(size, 0);
}

void PutU16(std::vector<uint8_t>* image, size_t offset, uint16_t value) {
  Grow(image, offset + 2);
  (*image)[offset] = static_cast<uint8_t>(value);
  (*image)[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(std::vector<uint8_t>* image, size_t offset, uint32_t value) {
  PutU16(image, offset, static_cast<uint16_t>(value));
  PutU16(image, offset + 2, static_cast<uint16_t>(value >> 16));
}

void PutBytes(std::vector<uint8_t>* image, size_t offset, const std::vector<uint8_t>& bytes) {
  Grow(image, offset + bytes.size());
  std::copy(bytes.begin(), bytes.end(), image->begin() + static_cast<ptrdiff_t>(offset));
}

}  // namespace

MzBuilder& MzBuilder::HeaderParagraphs(uint16_t paragraphs) {
  header_paragraphs_ = paragraphs;
  return *this;
}

MzBuilder& MzBuilder::InitialCs(uint16_t cs) {
  cs_ = cs;
  entry_at_.reset();
  return *this;
}

MzBuilder& MzBuilder::InitialIp(uint16_t ip) {
  ip_ = ip;
  entry_at_.reset();
  return *this;
}

MzBuilder& MzBuilder::InitialSs(uint16_t ss) {
  ss_ = ss;
  return *this;
}

MzBuilder& MzBuilder::InitialSp(uint16_t sp) {
  sp_ = sp;
  return *this;
}

MzBuilder& MzBuilder::EntryAt(uint32_t file_offset) {
  entry_at_ = file_offset;
  return *this;
}

MzBuilder& MzBuilder::PeOffset(uint32_t offset) {
  pe_offset_ = offset;
  return *this;
}

MzBuilder& MzBuilder::Code(size_t offset, const std::vector<uint8_t>& bytes) {
  patches_.push_back({offset, bytes});
  return *this;
}

MzBuilder& MzBuilder::Size(size_t size) {
  size_ = size;
  return *this;
}

uint32_t MzBuilder::EntryOffset() const {
  uint32_t header = header_paragraphs_ * 16u;
  if (entry_at_) return *entry_at_;
  return header + cs_ * 16u + ip_;
}

std::vector<uint8_t> MzBuilder::Build() const {
  uint16_t cs = cs_;
  uint16_t ip = ip_;
  if (entry_at_) {
    // Keep IP below 16 when the distance does not fit in IP alone, as a linker would.
    uint32_t distance = *entry_at_ - header_paragraphs_ * 16u;
    cs = distance > 0xFFFF ? static_cast<uint16_t>(distance >> 4) : 0;
    ip =
        distance > 0xFFFF ? static_cast<uint16_t>(distance & 0xF) : static_cast<uint16_t>(distance);
  }

  size_t size = std::max({size_, kMzMinimumSize, size_t{header_paragraphs_} * 16u});
  if (pe_offset_) size = std::max(size, kMzWithPeOffsetSize);
  for (const Patch& patch : patches_) size = std::max(size, patch.offset + patch.bytes.size());

  std::vector<uint8_t> image(size, 0);
  image[0] = 'M';
  image[1] = 'Z';
  PutU16(&image, kPageLengthOffset, static_cast<uint16_t>(size % kPageSize));
  PutU16(&image, kPageCountOffset, static_cast<uint16_t>((size + kPageSize - 1) / kPageSize));
  PutU16(&image, kHeaderParagraphsOffset, header_paragraphs_);
  PutU16(&image, kInitialSsOffset, ss_);
  PutU16(&image, kInitialSpOffset, sp_);
  PutU16(&image, kInitialIpOffset, ip);
  PutU16(&image, kInitialCsOffset, cs);
  if (pe_offset_) PutU32(&image, kPeOffsetOffset, *pe_offset_);
  for (const Patch& patch : patches_) PutBytes(&image, patch.offset, patch.bytes);
  return image;
}

PeBuilder& PeBuilder::PeOffset(uint32_t offset) {
  pe_offset_ = offset;
  return *this;
}

PeBuilder& PeBuilder::SizeOfOptionalHeader(uint16_t size) {
  optional_header_size_ = size;
  return *this;
}

PeBuilder& PeBuilder::EntryPoint(uint32_t rva) {
  entry_point_ = rva;
  return *this;
}

PeBuilder& PeBuilder::FileAlignment(uint32_t alignment) {
  file_alignment_ = alignment;
  return *this;
}

PeBuilder& PeBuilder::SizeOfHeaders(uint32_t size) {
  headers_size_ = size;
  return *this;
}

PeBuilder& PeBuilder::BaseOfCode(uint32_t rva) {
  base_of_code_ = rva;
  return *this;
}

PeBuilder& PeBuilder::SectionVirtualSize(uint32_t size) {
  section_virtual_size_ = size;
  return *this;
}

PeBuilder& PeBuilder::SectionRawPointer(uint32_t file_offset) {
  section_raw_pointer_ = file_offset;
  return *this;
}

PeBuilder& PeBuilder::SectionRawSize(uint32_t size) {
  section_raw_size_ = size;
  return *this;
}

PeBuilder& PeBuilder::AddSection(uint32_t virtual_address, uint32_t virtual_size,
                                 uint32_t raw_pointer, uint32_t raw_size) {
  extra_sections_.push_back({virtual_address, virtual_size, raw_pointer, raw_size});
  return *this;
}

PeBuilder& PeBuilder::Code(size_t offset, const std::vector<uint8_t>& bytes) {
  patches_.emplace_back(offset, bytes);
  return *this;
}

PeBuilder& PeBuilder::Size(size_t size) {
  size_ = size;
  return *this;
}

uint32_t PeBuilder::SectionHeaderOffset() const {
  return pe_offset_ + static_cast<uint32_t>(kOptionalHeaderOffset) + optional_header_size_;
}

uint32_t PeBuilder::EntryFileOffset() const {
  return entry_point_ - section_virtual_address_ + section_raw_pointer_;
}

std::vector<uint8_t> PeBuilder::Build() const {
  const size_t section_count = 1 + extra_sections_.size();
  size_t headers_end = size_t{SectionHeaderOffset()} + kSectionHeaderSize * section_count;
  // The optional header fields are written even when the declared size is too small to
  // hold them; the section header then overwrites them, as a hostile file would have it.
  headers_end = std::max(headers_end, size_t{pe_offset_} + kBaseOfCodeOffset + 4);
  size_t raw_end = size_t{section_raw_pointer_} + section_raw_size_;
  for (const ExtraSection& extra : extra_sections_) {
    raw_end = std::max(raw_end, size_t{extra.raw_pointer} + extra.raw_size);
  }
  size_t size = size_ ? *size_ : raw_end;
  size = std::max(size, headers_end);
  for (const auto& [offset, bytes] : patches_) size = std::max(size, offset + bytes.size());

  // The DOS part's page fields describe the whole file.
  std::vector<uint8_t> image =
      MzBuilder().HeaderParagraphs(4).PeOffset(pe_offset_).Size(size).Build();
  size_t pe = pe_offset_;
  PutBytes(&image, pe, {'P', 'E', 0, 0});
  PutU16(&image, pe + kMachineOffset, kMachineI386);
  PutU16(&image, pe + kSectionCountOffset, static_cast<uint16_t>(section_count));
  PutU16(&image, pe + kOptionalHeaderSizeOffset, optional_header_size_);
  PutU16(&image, pe + kPeCharacteristicsOffset, 0x0102);  // Characteristics: executable, 32-bit
  PutU16(&image, pe + kOptionalHeaderOffset, 0x10B);      // PE32 magic
  PutU32(&image, pe + kEntryPointOffset, entry_point_);
  PutU32(&image, pe + kBaseOfCodeOffset, base_of_code_);
  if (kOptionalHeaderOffset + optional_header_size_ >= kPeFileAlignmentEnd) {
    PutU32(&image, pe + kPeImageBaseOffset, 0x400000);
    PutU32(&image, pe + kPeSectionAlignmentOffset, 0x1000);
    PutU32(&image, pe + kPeFileAlignmentOffset, file_alignment_);
  }
  if (kOptionalHeaderOffset + optional_header_size_ >= kPeHeadersSizeEnd) {
    PutU32(&image, pe + kPeHeadersSizeOffset, headers_size_);
  }

  std::vector<ExtraSection> sections = {
      {section_virtual_address_, section_virtual_size_, section_raw_pointer_, section_raw_size_}};
  sections.insert(sections.end(), extra_sections_.begin(), extra_sections_.end());
  for (size_t index = 0; index < sections.size(); ++index) {
    const size_t section = SectionHeaderOffset() + index * kSectionHeaderSize;
    PutBytes(&image, section, {'.', 't', 'e', 'x', 't', 0, 0, 0});
    PutU32(&image, section + kSectionVirtualSizeOffset, sections[index].virtual_size);
    PutU32(&image, section + kSectionVirtualAddressOffset, sections[index].virtual_address);
    PutU32(&image, section + kSectionRawSizeOffset, sections[index].raw_size);
    PutU32(&image, section + kSectionRawPointerOffset, sections[index].raw_pointer);
    PutU32(&image, section + kSectionCharacteristicsOffset,
           0x60000020);  // code, executable, readable
  }

  for (const auto& [offset, bytes] : patches_) PutBytes(&image, offset, bytes);
  return image;
}

ComBuilder& ComBuilder::Code(size_t offset, const std::vector<uint8_t>& bytes) {
  patches_.emplace_back(offset, bytes);
  return *this;
}

ComBuilder& ComBuilder::JumpShort(size_t target) {
  return Code(0, {0xEB, static_cast<uint8_t>(target - 2)});
}

ComBuilder& ComBuilder::JumpNear(size_t target) {
  uint16_t displacement = static_cast<uint16_t>(target - 3);
  return Code(0,
              {0xE9, static_cast<uint8_t>(displacement), static_cast<uint8_t>(displacement >> 8)});
}

ComBuilder& ComBuilder::CallNear(size_t target) {
  uint16_t displacement = static_cast<uint16_t>(target - 3);
  return Code(0,
              {0xE8, static_cast<uint8_t>(displacement), static_cast<uint8_t>(displacement >> 8)});
}

ComBuilder& ComBuilder::Size(size_t size) {
  size_ = size;
  return *this;
}

std::vector<uint8_t> ComBuilder::Build() const {
  std::vector<uint8_t> image(size_, 0);
  for (const auto& [offset, bytes] : patches_) PutBytes(&image, offset, bytes);
  return image;
}

}  // namespace quarn::testing
