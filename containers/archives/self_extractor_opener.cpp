#include "containers/archives/self_extractor_opener.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "containers/archives/dos_archive_headers.h"
#include "containers/file_part.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

// The MZ header's fields that say where the load image ends, and where a PE header lies.
constexpr size_t kMzHeaderBytes = 0x40;
constexpr size_t kLastPageBytesField = 2;
constexpr size_t kPageCountField = 4;
constexpr size_t kPeOffsetField = 0x3C;
constexpr uint64_t kPageBytes = 512;

// The PE file header's fields, from its "PE\0\0", and a section header's.
constexpr size_t kSectionCountField = 6;
constexpr size_t kOptionalHeaderSizeField = 20;
constexpr size_t kOptionalHeaderAt = 24;
constexpr size_t kSectionHeaderBytes = 40;
constexpr size_t kRawSizeField = 16;
constexpr size_t kRawPointerField = 20;
// The most sections the Windows loader takes.
constexpr uint16_t kMostSections = 96;

// A ZIP's records, and the end record's fields.
constexpr uint32_t kLocalHeaderMark = 0x04034B50;
constexpr uint32_t kCentralHeaderMark = 0x02014B50;
constexpr uint32_t kEndRecordMark = 0x06054B50;
constexpr size_t kEndRecordBytes = 22;
constexpr size_t kCentralSizeField = 12;
constexpr size_t kCentralOffsetField = 16;
constexpr size_t kCommentLengthField = 20;
constexpr size_t kLongestComment = 0xFFFF;

constexpr std::array<uint8_t, 4> kRarMark = {'R', 'a', 'r', '!'};

bool IsMz(std::span<const uint8_t> head) {
  return head.size() >= kMzHeaderBytes &&
         ((head[0] == 'M' && head[1] == 'Z') || (head[0] == 'Z' && head[1] == 'M'));
}

// Where the DOS loader's image ends: whole pages but for the last, which holds e_cblp bytes
// unless that is 0. Nothing for a header no loader takes.
std::optional<uint64_t> MzImageEnd(std::span<const uint8_t> header) {
  const uint16_t pages = ReadU16(header, kPageCountField);
  const uint16_t last_page = ReadU16(header, kLastPageBytesField);
  if (pages == 0 || last_page >= kPageBytes) return std::nullopt;
  return pages * kPageBytes - (last_page == 0 ? 0 : kPageBytes - last_page);
}

// Where a PE program's sections' raw data end, when the file is one; nothing for a DOS
// program, or a PE header whose section table does not fit the file.
std::optional<uint64_t> PeImageEnd(File& file, std::span<const uint8_t> header) {
  const uint32_t pe_at = ReadU32(header, kPeOffsetField);
  std::array<uint8_t, kOptionalHeaderAt> pe{};
  if (pe_at < kMzHeaderBytes || !ReadExactlyAt(file, pe_at, pe) ||
      std::memcmp(pe.data(), "PE\0\0", 4) != 0) {
    return std::nullopt;
  }
  const uint16_t sections = ReadU16(pe, kSectionCountField);
  if (sections == 0 || sections > kMostSections) return std::nullopt;
  std::vector<uint8_t> table(sections * kSectionHeaderBytes);
  const uint64_t table_at =
      uint64_t{pe_at} + kOptionalHeaderAt + ReadU16(pe, kOptionalHeaderSizeField);
  if (!ReadExactlyAt(file, table_at, table)) return std::nullopt;
  uint64_t end = 0;
  for (size_t at = 0; at < table.size(); at += kSectionHeaderBytes) {
    const uint32_t raw_size = ReadU32(table, at + kRawSizeField);
    if (raw_size == 0) continue;
    end = std::max(end, uint64_t{ReadU32(table, at + kRawPointerField)} + raw_size);
  }
  if (end == 0) return std::nullopt;
  return end;
}

// Whether the ZIP that starts at `start` ends the file: its end record lies at the end but
// for the comment it says it has, and the central directory it points to lies right before
// it, starting with an entry, its offset counted from the file's start or from `start`.
bool ZipEndsTheFile(File& file, uint64_t start, uint64_t size) {
  const uint64_t tail_bytes = std::min<uint64_t>(size - start, kEndRecordBytes + kLongestComment);
  if (tail_bytes < kEndRecordBytes) return false;
  std::vector<uint8_t> tail(tail_bytes);
  const uint64_t tail_at = size - tail_bytes;
  if (!ReadExactlyAt(file, tail_at, tail)) return false;
  for (size_t at = tail.size() - kEndRecordBytes;; --at) {
    if (ReadU32(tail, at) == kEndRecordMark &&
        at + kEndRecordBytes + ReadU16(tail, at + kCommentLengthField) == tail.size()) {
      const uint64_t record = tail_at + at;
      const uint32_t central_size = ReadU32(tail, at + kCentralSizeField);
      const uint32_t central_offset = ReadU32(tail, at + kCentralOffsetField);
      if (central_size > record - start) return false;
      const uint64_t central = record - central_size;
      if (central_offset != central && start + central_offset != central) return false;
      std::array<uint8_t, 4> mark{};
      return ReadExactlyAt(file, central, mark) && ReadU32(mark, 0) == kCentralHeaderMark;
    }
    if (at == 0) return false;
  }
}

bool IsCarriedKind(ContainerKind kind) {
  return kind == ContainerKind::kZip || kind == ContainerKind::kRar ||
         kind == ContainerKind::kArj || kind == ContainerKind::kLha;
}

}  // namespace

std::optional<OpenedContainer> SelfExtractorOpener::Open(std::shared_ptr<File> file) {
  if (!file) return std::nullopt;
  const std::optional<uint64_t> size = file->Size();
  std::array<uint8_t, kMzHeaderBytes> header{};
  if (!size || !ReadExactlyAt(*file, 0, header) || !IsMz(header)) return std::nullopt;
  // A PE program's own image lies past its MZ stub's.
  std::optional<uint64_t> image_end = PeImageEnd(*file, header);
  if (!image_end) image_end = MzImageEnd(header);
  std::array<uint8_t, 4> mark{};
  if (!image_end || *image_end >= *size || !ReadExactlyAt(*file, *image_end, mark)) {
    return std::nullopt;
  }
  std::optional<OpenedContainer> opened;
  if (ReadU32(mark, 0) == kLocalHeaderMark) {
    if (ZipEndsTheFile(*file, *image_end, *size)) {
      opened = libarchive_.OpenCarriedZip(file, *image_end);
    }
  } else {
    auto archive = std::make_shared<FilePart>(file, *image_end, *size - *image_end);
    if (mark == kRarMark) {
      opened = libarchive_.Open(archive);
    } else if (RecogniseDosArchive(*archive) == ContainerKind::kArj) {
      opened = extractor_.Open(archive);
    } else {
      opened = lha_.Open(archive);
    }
  }
  if (!opened || !IsCarriedKind(opened->kind)) return std::nullopt;
  opened->carried_by_program = true;
  return opened;
}

bool SelfExtractorOpener::MayOpen(std::span<const uint8_t> head, uint64_t size) const {
  if (!IsMz(head)) return false;
  // The PE header may lie past the head: a PE offset inside the file may be one.
  const uint32_t pe_at = ReadU32(head, kPeOffsetField);
  const bool may_be_pe = pe_at >= kMzHeaderBytes && pe_at < size;
  const std::optional<uint64_t> image_end = MzImageEnd(head);
  return may_be_pe || (image_end && *image_end < size);
}

}  // namespace quarn
