#include "containers/archives/dos_archive_headers.h"

#include <zlib.h>

#include <array>
#include <vector>

#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

constexpr uint8_t kArjId[] = {0x60, 0xEA};
constexpr size_t kArjSizeOffset = 2;
constexpr size_t kArjBasicHeaderOffset = 4;
constexpr uint16_t kArjLargestBasicHeader = 2600;
constexpr size_t kArjFirstHeaderSizeMinimum = 30;
constexpr size_t kArjFileTypeInBasic = 6;
constexpr uint8_t kArjMainHeaderType = 2;

constexpr uint8_t kArcMark = 0x1A;
constexpr size_t kArcNameOffset = 2;
constexpr size_t kArcNameBytes = 13;
constexpr size_t kArcPackedSizeOffset = 15;
constexpr uint8_t kArcOldestMethod = 1;  // its header lacks the unpacked size
constexpr uint8_t kPakNewestMethod = 11;
constexpr size_t kArcOldHeaderBytes = 25;
constexpr size_t kArcHeaderBytes = 29;

bool ArjHeadLooksRight(std::span<const uint8_t> head) {
  if (head.size() < kArjBasicHeaderOffset + kArjFirstHeaderSizeMinimum) return false;
  if (head[0] != kArjId[0] || head[1] != kArjId[1]) return false;
  const uint16_t basic = ReadU16(head, kArjSizeOffset);
  return basic >= kArjFirstHeaderSizeMinimum && basic <= kArjLargestBasicHeader &&
         head[kArjBasicHeaderOffset] >= kArjFirstHeaderSizeMinimum &&
         head[kArjBasicHeaderOffset] <= basic &&
         head[kArjBasicHeaderOffset + kArjFileTypeInBasic] == kArjMainHeaderType;
}

size_t ArcHeaderBytes(uint8_t method) {
  return method == kArcOldestMethod ? kArcOldHeaderBytes : kArcHeaderBytes;
}

bool ArcHeadLooksRight(std::span<const uint8_t> head) {
  if (head.size() < kArcOldHeaderBytes || head[0] != kArcMark) return false;
  const uint8_t method = head[1];
  if (method < kArcOldestMethod || method > kPakNewestMethod) return false;
  if (head.size() < ArcHeaderBytes(method)) return false;
  size_t length = 0;
  while (length < kArcNameBytes && head[kArcNameOffset + length] != 0) {
    const uint8_t c = head[kArcNameOffset + length];
    if (c <= ' ' || c == 0x7F) return false;
    ++length;
  }
  return length > 0 && length < kArcNameBytes;
}

bool IsArj(File& file, uint64_t size) {
  std::array<uint8_t, kArjBasicHeaderOffset + kArjFirstHeaderSizeMinimum> head{};
  if (size < head.size() || !ReadExactlyAt(file, 0, head) || !ArjHeadLooksRight(head)) {
    return false;
  }
  const uint16_t basic = ReadU16(head, kArjSizeOffset);
  std::vector<uint8_t> header(basic + 4);
  if (size < kArjBasicHeaderOffset + header.size() ||
      !ReadExactlyAt(file, kArjBasicHeaderOffset, header)) {
    return false;
  }
  const uint32_t crc = static_cast<uint32_t>(crc32(0L, header.data(), basic));
  return crc == ReadU32(header, basic);
}

bool IsArc(File& file, uint64_t size) {
  std::array<uint8_t, kArcHeaderBytes> head{};
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(size, head.size()));
  if (!ReadExactlyAt(file, 0, std::span(head.data(), wanted)) ||
      !ArcHeadLooksRight(std::span(head.data(), wanted))) {
    return false;
  }
  const uint64_t next = ArcHeaderBytes(head[1]) + uint64_t{ReadU32(head, kArcPackedSizeOffset)};
  uint8_t mark = 0;
  return next < size && ReadExactlyAt(file, next, std::span(&mark, 1)) && mark == kArcMark;
}

}  // namespace

std::optional<ContainerKind> RecogniseDosArchive(File& file) {
  const std::optional<uint64_t> size = file.Size();
  if (!size) return std::nullopt;
  if (IsArj(file, *size)) return ContainerKind::kArj;
  if (IsArc(file, *size)) return ContainerKind::kArc;
  return std::nullopt;
}

bool MayBeDosArchive(std::span<const uint8_t> head, uint64_t) {
  return ArjHeadLooksRight(head) || ArcHeadLooksRight(head);
}

}  // namespace quarn
