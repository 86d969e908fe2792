#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// Builders for executable images used as test fixtures. Every builder writes its header
// fields first and the caller's Code() bytes last, so a test can overwrite any header byte
// to make a hostile image. Build() never fails; the image grows to hold everything written.
namespace quarn::testing {

// A DOS EXE image. Defaults: a 2-paragraph header, CS:IP and SS:SP all zero, no PE offset
// written, no padding.
class MzBuilder {
 public:
  static constexpr size_t kPageLengthOffset = 2;  // e_cblp: bytes used in the last page
  static constexpr size_t kPageCountOffset = 4;   // e_cp: pages, the last one counted
  static constexpr size_t kHeaderParagraphsOffset = 8;
  static constexpr size_t kInitialSsOffset = 14;
  static constexpr size_t kInitialSpOffset = 16;
  static constexpr size_t kInitialIpOffset = 20;
  static constexpr size_t kInitialCsOffset = 22;
  static constexpr size_t kPeOffsetOffset = 0x3C;

  MzBuilder& HeaderParagraphs(uint16_t paragraphs);
  MzBuilder& InitialCs(uint16_t cs);
  MzBuilder& InitialIp(uint16_t ip);
  MzBuilder& InitialSs(uint16_t ss);
  MzBuilder& InitialSp(uint16_t sp);
  // Sets CS:IP so the entry lies at `file_offset`, counted from the start of the file; the
  // header size in force at Build() is taken into account. `file_offset` must not lie
  // inside the header.
  MzBuilder& EntryAt(uint32_t file_offset);
  // Writes e_lfanew at 0x3C; the image then holds at least 0x40 bytes.
  MzBuilder& PeOffset(uint32_t offset);
  // Places `bytes` at file offset `offset`; later calls overwrite earlier ones.
  MzBuilder& Code(size_t offset, const std::vector<uint8_t>& bytes);
  // The image holds at least `size` bytes; unwritten bytes are zero.
  MzBuilder& Size(size_t size);

  // File offset of the entry point the header's CS:IP selects.
  uint32_t EntryOffset() const;
  std::vector<uint8_t> Build() const;

 private:
  struct Patch {
    size_t offset;
    std::vector<uint8_t> bytes;
  };

  uint16_t header_paragraphs_ = 2;
  uint16_t cs_ = 0;
  uint16_t ip_ = 0;
  uint16_t ss_ = 0;
  uint16_t sp_ = 0;
  std::optional<uint32_t> entry_at_;
  std::optional<uint32_t> pe_offset_;
  size_t size_ = 0;
  std::vector<Patch> patches_;
};

// A 32-bit PE image with one section (or more, with AddSection), behind a 4-paragraph MZ header.
// Defaults: e_lfanew 0x80, optional header of 0xE0 bytes, entry point and base of code 0x1000, one
// section at virtual address 0x1000 of 0x200 bytes whose raw data is 0x200 bytes at file offset
// 0x200. Unless Size() is set, the file ends where the last raw data of a section ends.
class PeBuilder {
 public:
  // Offsets from the "PE\0\0" signature.
  static constexpr size_t kMachineOffset = 4;
  static constexpr size_t kSectionCountOffset = 6;
  static constexpr size_t kOptionalHeaderSizeOffset = 20;
  static constexpr size_t kOptionalHeaderOffset = 24;
  static constexpr size_t kEntryPointOffset = 0x28;
  static constexpr size_t kBaseOfCodeOffset = 0x2C;
  // Offsets within a section header.
  static constexpr size_t kSectionVirtualSizeOffset = 8;
  static constexpr size_t kSectionVirtualAddressOffset = 12;
  static constexpr size_t kSectionRawSizeOffset = 16;
  static constexpr size_t kSectionRawPointerOffset = 20;
  static constexpr size_t kSectionHeaderSize = 40;
  static constexpr uint16_t kMachineI386 = 0x14C;

  PeBuilder& PeOffset(uint32_t offset);
  PeBuilder& SizeOfOptionalHeader(uint16_t size);
  PeBuilder& EntryPoint(uint32_t rva);  // AddressOfEntryPoint
  PeBuilder& BaseOfCode(uint32_t rva);
  PeBuilder& FileAlignment(uint32_t alignment);  // 0x200 unless set
  PeBuilder& SizeOfHeaders(uint32_t size);       // 0 unless set
  PeBuilder& SectionVirtualSize(uint32_t size);
  PeBuilder& SectionRawPointer(uint32_t file_offset);
  PeBuilder& SectionRawSize(uint32_t size);
  // Another section after the ones before it, its header following theirs; the section
  // count grows with each.
  PeBuilder& AddSection(uint32_t virtual_address, uint32_t virtual_size, uint32_t raw_pointer,
                        uint32_t raw_size);
  // Places `bytes` at file offset `offset`, after every header field is written.
  PeBuilder& Code(size_t offset, const std::vector<uint8_t>& bytes);
  // The file's size, which may cut the section's raw data short; it still grows to hold
  // the headers and every Code() placement.
  PeBuilder& Size(size_t size);

  // File offset of the first section header: after the declared optional header.
  uint32_t SectionHeaderOffset() const;
  // File offset the entry point maps to through the section, wrapping as uint32_t does.
  uint32_t EntryFileOffset() const;
  std::vector<uint8_t> Build() const;

 private:
  uint32_t pe_offset_ = 0x80;
  uint16_t optional_header_size_ = 0xE0;
  uint32_t entry_point_ = 0x1000;
  uint32_t base_of_code_ = 0x1000;
  uint32_t file_alignment_ = 0x200;
  uint32_t headers_size_ = 0;
  uint32_t section_virtual_address_ = 0x1000;
  uint32_t section_virtual_size_ = 0x200;
  uint32_t section_raw_pointer_ = 0x200;
  uint32_t section_raw_size_ = 0x200;
  struct ExtraSection {
    uint32_t virtual_address;
    uint32_t virtual_size;
    uint32_t raw_pointer;
    uint32_t raw_size;
  };
  std::vector<ExtraSection> extra_sections_;
  std::optional<size_t> size_;
  std::vector<std::pair<size_t, std::vector<uint8_t>>> patches_;
};

// A COM image: bytes as loaded at offset 0x100 of the segment, with no header.
class ComBuilder {
 public:
  ComBuilder& Code(size_t offset, const std::vector<uint8_t>& bytes);
  // Write at offset 0 a jump or call whose destination is file offset `target`. The
  // displacement wraps as the processor's does (8 bits for the short jump, 16 otherwise),
  // so a target out of reach gives a wrapped displacement rather than an error.
  ComBuilder& JumpShort(size_t target);  // EB rel8
  ComBuilder& JumpNear(size_t target);   // E9 rel16
  ComBuilder& CallNear(size_t target);   // E8 rel16
  ComBuilder& Size(size_t size);

  std::vector<uint8_t> Build() const;

 private:
  std::vector<std::pair<size_t, std::vector<uint8_t>>> patches_;
  size_t size_ = 0;
};

}  // namespace quarn::testing
