#include "containers/archives/self_extractor_opener.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
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

// Reads exactly `bytes.size()` bytes at an offset, or says it could not.
using ExactRead = std::function<bool(uint64_t offset, std::span<uint8_t> bytes)>;

// Where a PE program's sections' raw data end, when the file is one; nothing for a DOS
// program, or a PE header whose section table does not fit the file.
std::optional<uint64_t> PeImageEnd(const ExactRead& read, std::span<const uint8_t> header) {
  const uint32_t pe_at = ReadU32(header, kPeOffsetField);
  std::array<uint8_t, kOptionalHeaderAt> pe{};
  if (pe_at < kMzHeaderBytes || !read(pe_at, pe) || std::memcmp(pe.data(), "PE\0\0", 4) != 0) {
    return std::nullopt;
  }
  const uint16_t sections = ReadU16(pe, kSectionCountField);
  if (sections == 0 || sections > kMostSections) return std::nullopt;
  std::array<uint8_t, kMostSections * kSectionHeaderBytes> whole_table;
  const std::span<uint8_t> table(whole_table.data(), sections * kSectionHeaderBytes);
  const uint64_t table_at =
      uint64_t{pe_at} + kOptionalHeaderAt + ReadU16(pe, kOptionalHeaderSizeField);
  if (!read(table_at, table)) return std::nullopt;
  uint64_t end = 0;
  for (size_t at = 0; at < table.size(); at += kSectionHeaderBytes) {
    const uint32_t raw_size = ReadU32(table, at + kRawSizeField);
    if (raw_size == 0) continue;
    end = std::max(end, uint64_t{ReadU32(table, at + kRawPointerField)} + raw_size);
  }
  if (end == 0) return std::nullopt;
  return end;
}

// Where the program's own image ends: a PE program's past its MZ stub's.
std::optional<uint64_t> ImageEnd(const ExactRead& read, std::span<const uint8_t> header) {
  std::optional<uint64_t> image_end = PeImageEnd(read, header);
  return image_end ? image_end : MzImageEnd(header);
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
  const std::optional<uint64_t> image_end = ImageEnd(
      [&](uint64_t at, std::span<uint8_t> bytes) { return ReadExactlyAt(*file, at, bytes); },
      header);
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

namespace {

// Reads from the held bytes; `missed` is set when a read asks for bytes inside the file that
// are not held, whose answer is then unknown.
ExactRead HeldReader(const HeldEnds& held, bool& missed) {
  return [&held, &missed](uint64_t at, std::span<uint8_t> bytes) {
    if (at > held.size || bytes.size() > held.size - at) return false;
    for (size_t i = 0; i < bytes.size(); ++i) {
      const std::optional<uint8_t> byte = held.At(at + i);
      if (!byte) {
        missed = true;
        return false;
      }
      bytes[i] = *byte;
    }
    return true;
  };
}

std::optional<uint64_t> HeldImageEnd(const HeldEnds& held, bool& missed) {
  return ImageEnd(HeldReader(held, missed),
                  held.head.first(std::min(held.head.size(), kMzHeaderBytes)));
}

}  // namespace

// As Open decides, from the held bytes: the image's end, then the archive's first bytes there.
bool SelfExtractorOpener::MayOpenHeld(const HeldEnds& held) const {
  if (!MayOpen(held.head.first(std::min(held.head.size(), kContainerHeadBytes)), held.size)) {
    return false;
  }
  bool missed = false;
  const std::optional<uint64_t> image_end = HeldImageEnd(held, missed);
  if (missed) return true;
  if (!image_end || *image_end >= held.size) return false;
  std::array<uint8_t, kMostBytesLookedAt> bytes;
  const auto length = static_cast<size_t>(std::min<uint64_t>(held.size - *image_end, bytes.size()));
  const std::span<uint8_t> archive(bytes.data(), length);
  if (!HeldReader(held, missed)(*image_end, archive)) return missed;
  const uint64_t archive_size = held.size - *image_end;
  if (archive.size() < kRarMark.size()) return false;  // Open reads the first four bytes
  return ReadU32(archive, 0) == kLocalHeaderMark ||
         std::equal(kRarMark.begin(), kRarMark.end(), archive.begin()) ||
         MayBeDosArchive(archive, archive_size) || lha_.MayOpen(archive, archive_size);
}

// The archive's first bytes, once where they lie is known from the held bytes.
std::optional<BytesWanted> SelfExtractorOpener::LookWanted(const HeldEnds& held) const {
  bool missed = false;
  const std::optional<uint64_t> image_end = HeldImageEnd(held, missed);
  if (missed || !image_end || *image_end >= held.size || held.At(*image_end)) return std::nullopt;
  return BytesWanted{*image_end, static_cast<uint32_t>(std::min<uint64_t>(held.size - *image_end,
                                                                          kMostBytesLookedAt))};
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
