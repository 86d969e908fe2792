#include "containers/wrappers/ewf_reader.h"

#include <libewf.h>
#include <zlib.h>

#include <array>
#include <cctype>
#include <cstring>
#include <vector>

#include "containers/wrappers/library_block_device.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"
#include "platform/library_file_name.h"

namespace quarn {
namespace {

constexpr uint8_t kEwfSignature[] = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};
constexpr uint64_t kFieldsStartOffset = 8;
constexpr uint64_t kSegmentNumberOffset = 9;
constexpr uint64_t kFieldsEndOffset = 11;
constexpr uint64_t kEwfHeaderBytes = 13;
constexpr uint8_t kEx01Signature[] = {'E', 'V', 'F', '2', 0x0D, 0x0A, 0x81, 0x00};
constexpr uint64_t kEx01MajorVersionOffset = 8;
constexpr uint64_t kEx01SegmentNumberOffset = 12;

// Every segment ends with a section descriptor that points at itself: "next" when another
// segment follows, "done" in the last one. Its Adler-32 covers the bytes before it.
constexpr uint64_t kSectionBytes = 76;
constexpr uint64_t kSectionTypeBytes = 16;
constexpr uint64_t kSectionNextOffset = 16;
constexpr uint64_t kSectionChecksumOffset = 72;

// A set of more segments than this is not opened: each is a file held open twice, by the scan
// and by libewf. At a CD's size a segment, the size of the old acquisition tools, this still
// holds 80 GiB, more than the disks of the era.
constexpr uint32_t kMostSegments = 128;
constexpr size_t kFirstSectorBytes = 512;

bool SectionChecksumHolds(std::span<const uint8_t> section) {
  return ReadU32(section, kSectionChecksumOffset) ==
         adler32(1, section.data(), static_cast<uInt>(kSectionChecksumOffset));
}

enum class SegmentEnd { kNext, kDone, kBroken };

// How the segment in `file` ends, its closing section checked.
SegmentEnd EndOf(File& file) {
  const std::optional<uint64_t> size = file.Size();
  if (!size || *size < kEwfHeaderBytes + kSectionBytes) return SegmentEnd::kBroken;
  std::array<uint8_t, kSectionBytes> section{};
  const uint64_t at = *size - kSectionBytes;
  if (!ReadExactlyAt(file, at, section.data(), section.size())) return SegmentEnd::kBroken;
  if (ReadU64(section, kSectionNextOffset) != at || !SectionChecksumHolds(section)) {
    return SegmentEnd::kBroken;
  }
  std::array<char, kSectionTypeBytes> type{};
  std::memcpy(type.data(), section.data(), type.size());
  constexpr std::array<char, kSectionTypeBytes> kNext = {'n', 'e', 'x', 't'};
  constexpr std::array<char, kSectionTypeBytes> kDone = {'d', 'o', 'n', 'e'};
  if (type == kNext) return SegmentEnd::kNext;
  return type == kDone ? SegmentEnd::kDone : SegmentEnd::kBroken;
}

std::optional<uint32_t> SegmentNumber(File& file) {
  std::array<uint8_t, kEwfHeaderBytes> header{};
  if (!ReadExactlyAt(file, 0, header.data(), header.size()) ||
      !BytesEqual(header, 0, kEwfSignature, sizeof kEwfSignature)) {
    return std::nullopt;
  }
  return ReadU16(header, kSegmentNumberOffset);
}

// The handle and the segments whose /proc/self/fd names it opens again: closed and freed
// together.
struct EwfHandle {
  libewf_handle_t* handle = nullptr;
  std::vector<std::shared_ptr<File>> segments;
  ~EwfHandle() {
    if (handle == nullptr) return;
    libewf_handle_close(handle, nullptr);
    libewf_handle_free(&handle, nullptr);
  }
};

WrappedDisk Damaged() {
  return WrappedDisk{ContainerKind::kEwf, nullptr, {{"", IncompleteReason::kDamaged}}};
}

// The library's failure is left unasked for (a null error), as with the other libraries.
std::optional<WrappedDisk> OpenSet(const std::shared_ptr<EwfHandle>& opened) {
  std::vector<std::string> names;
  for (const std::shared_ptr<File>& segment : opened->segments) {
    std::optional<std::string> name = LibraryFileName(*segment);
    if (!name) return UnsupportedWrapper(ContainerKind::kEwf);
    names.push_back(std::move(*name));
  }
  std::vector<char*> arguments;
  for (std::string& name : names) arguments.push_back(name.data());
  if (libewf_handle_initialize(&opened->handle, nullptr) != 1) return std::nullopt;
  size64_t size = 0;
  // libewf is left to keep every segment open: given a bound on open files, its own copy of
  // the I/O library refuses to open a set at all, and whether its own copy or another
  // library's serves it rests on the order they are linked in (containers/CMakeLists.txt).
  if (libewf_handle_open(opened->handle, arguments.data(), static_cast<int>(arguments.size()),
                         LIBEWF_OPEN_READ, nullptr) != 1 ||
      libewf_handle_get_media_size(opened->handle, &size, nullptr) != 1) {
    return UnsupportedWrapper(ContainerKind::kEwf);
  }
  libewf_handle_t* handle = opened->handle;
  // libewf gives a chunk whose check sum fails as if it were read: a read that met one
  // more such chunk has failed, so that what it gave is never scanned as the disk's bytes.
  auto read = [handle](void* buffer, size_t length, uint64_t offset) -> int64_t {
    uint32_t errors_before = 0;
    uint32_t errors_after = 0;
    if (libewf_handle_get_number_of_checksum_errors(handle, &errors_before, nullptr) != 1) {
      return -1;
    }
    const ssize_t got =
        libewf_handle_read_random(handle, buffer, length, static_cast<off64_t>(offset), nullptr);
    if (libewf_handle_get_number_of_checksum_errors(handle, &errors_after, nullptr) != 1 ||
        errors_after != errors_before) {
      return -1;
    }
    return got;
  };
  auto disk = std::make_shared<LibraryBlockDevice>(size, read, opened);
  // A disk whose first sector cannot be read holds nothing the image reader would find, and
  // would otherwise pass for an empty one.
  std::array<uint8_t, kFirstSectorBytes> first{};
  if (size < first.size() || disk->ReadAt(0, first.data(), first.size()) != first.size()) {
    return Damaged();
  }
  WrappedDisk wrapped{ContainerKind::kEwf, std::move(disk), {}};
  // Reading a compressed set is unpacking: the scan's size and time limits apply to it as to
  // an archive. A set that cannot say how it was written counts as compressed.
  int8_t level = 0;
  uint8_t flags = 0;
  wrapped.unpacks = libewf_handle_get_compression_values(handle, &level, &flags, nullptr) != 1 ||
                    level != LIBEWF_COMPRESSION_NONE ||
                    (flags & LIBEWF_COMPRESS_FLAG_USE_EMPTY_BLOCK_COMPRESSION);
  return wrapped;
}

}  // namespace

bool MayBeEwf(std::span<const uint8_t> head) {
  if (BytesEqual(head, 0, kEwfSignature, sizeof kEwfSignature)) {
    // The first section's descriptor follows the header, its check sum right.
    return Fits(head, kEwfHeaderBytes, kSectionBytes) && ReadU8(head, kFieldsStartOffset) == 1 &&
           ReadU16(head, kSegmentNumberOffset) == 1 && ReadU16(head, kFieldsEndOffset) == 0 &&
           SectionChecksumHolds(head.subspan(kEwfHeaderBytes, kSectionBytes));
  }
  return BytesEqual(head, 0, kEx01Signature, sizeof kEx01Signature) &&
         Fits(head, 0, kEx01SegmentNumberOffset + 4) &&
         ReadU8(head, kEx01MajorVersionOffset) == 2 && ReadU32(head, kEx01SegmentNumberOffset) == 1;
}

std::optional<std::string> EwfSegmentName(const std::string& first, uint32_t number) {
  constexpr uint32_t kDigitNames = 99;
  constexpr uint32_t kLetterPairs = 26 * 26;
  if (number == 0) return std::nullopt;
  const size_t dot = first.rfind('.');
  const std::string stem = dot == std::string::npos ? first : first.substr(0, dot);
  const bool lower = dot != std::string::npos && dot + 1 < first.size() && first[dot + 1] >= 'a' &&
                     first[dot + 1] <= 'z';
  std::string extension;
  if (number <= kDigitNames) {
    extension = {'E', static_cast<char>('0' + number / 10), static_cast<char>('0' + number % 10)};
  } else {
    const uint32_t past = number - kDigitNames - 1;
    const uint32_t first_letter = 'E' + past / kLetterPairs;
    if (first_letter > 'Z') return std::nullopt;
    extension = {static_cast<char>(first_letter), static_cast<char>('A' + past / 26 % 26),
                 static_cast<char>('A' + past % 26)};
  }
  if (lower) {
    for (char& letter : extension) letter = static_cast<char>(std::tolower(letter));
  }
  return stem + "." + extension;
}

std::optional<WrappedDisk> ReadEwf(const std::shared_ptr<File>& file,
                                   const SiblingOpener& siblings) {
  std::array<uint8_t, kContainerHeadBytes> head{};
  const uint32_t got = ReadFullyAt(*file, 0, head.data(), head.size());
  if (!MayBeEwf(std::span(head.data(), got))) return std::nullopt;
  if (BytesEqual(head, 0, kEx01Signature, sizeof kEx01Signature)) {
    return UnsupportedWrapper(ContainerKind::kEwf);
  }
  if (!LibraryFileName(*file)) return UnsupportedWrapper(ContainerKind::kEwf);
  auto opened = std::make_shared<EwfHandle>();
  opened->segments.push_back(file);
  for (SegmentEnd end = EndOf(*file); end != SegmentEnd::kDone;) {
    if (end == SegmentEnd::kBroken) return Damaged();
    const uint32_t number = static_cast<uint32_t>(opened->segments.size()) + 1;
    const std::optional<std::string> name = EwfSegmentName(siblings.own_name, number);
    if (number > kMostSegments || !name || !siblings) {
      return UnsupportedWrapper(ContainerKind::kEwf);
    }
    std::shared_ptr<File> segment = siblings(*name);
    if (!segment) return UnsupportedWrapper(ContainerKind::kEwf);
    if (SegmentNumber(*segment) != number) return Damaged();
    end = EndOf(*segment);
    opened->segments.push_back(std::move(segment));
  }
  return OpenSet(opened);
}

}  // namespace quarn
