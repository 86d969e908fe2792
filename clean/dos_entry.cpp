#include "clean/dos_entry.h"

#include <array>
#include <span>

#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

constexpr uint32_t kDosHeaderReadSize = 24;
constexpr int kHeaderParagraphsField = 8;
constexpr int kInitialIpField = 20;
constexpr int kInitialCsField = 22;
constexpr uint32_t kParagraphSize = 16;

}  // namespace

void LocateDosEntry(File& file, uint32_t* entry_offset) {
  std::array<uint8_t, kDosHeaderReadSize> header{};
  if (ReadAt(file, 0, header.data(), kDosHeaderReadSize) == 0) return;
  std::span<const uint8_t> fields(header);
  *entry_offset = uint32_t{ReadU16(fields, kInitialIpField)} +
                  kParagraphSize * ReadU16(fields, kHeaderParagraphsField) +
                  kParagraphSize * ReadU16(fields, kInitialCsField);
}

}  // namespace quarn
