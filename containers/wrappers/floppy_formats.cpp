#include "containers/wrappers/floppy_formats.h"

#include <algorithm>

#include "containers/wrappers/teledisk_lzhuf.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

// An extra-density track holds 36 sectors of 512 bytes: a track that holds more than this
// claims sectors no drive wrote.
constexpr uint64_t kMostTrackBytes = 24 * 1024;
constexpr int kLargestSizeCode = 6;  // 128 << 6: the 8 KiB sector of the largest format

constexpr uint8_t kImdSignature[] = {'I', 'M', 'D', ' '};
constexpr uint8_t kImdHeaderEnd = 0x1A;
constexpr uint8_t kImdLastMode = 5;
constexpr uint8_t kImdCylinderMap = 0x80;
constexpr uint8_t kImdHeadMap = 0x40;
constexpr uint8_t kImdSizeTable = 0xFF;
constexpr uint8_t kImdLastRecord = 8;

constexpr uint64_t kTdHeaderBytes = 12;
constexpr uint64_t kTdCrcOffset = 10;
constexpr uint64_t kTdVersionOffset = 4;
constexpr uint64_t kTdStepOffset = 7;
constexpr uint8_t kTdHasComment = 0x80;
constexpr uint64_t kTdCommentHeaderBytes = 10;
constexpr uint8_t kTdAdvancedVersion = 20;  // earlier "td" files use another compression
constexpr uint8_t kTdEnd = 0xFF;
constexpr uint8_t kTdNoData = 0x30;
// A run repeats a pattern of 2, 4, … bytes: one longer than a sector is none.
constexpr uint8_t kLargestPatternCode = 13;

constexpr uint64_t kQmHeaderBytes = 133;
constexpr uint8_t kQmSignature[] = {'C', 'Q', 0x14};
constexpr uint64_t kQmSectorSizeOffset = 0x03;
constexpr uint64_t kQmSectorsOffset = 0x10;
constexpr uint64_t kQmHeadsOffset = 0x12;
constexpr uint64_t kQmCylindersOffset = 0x5B;
constexpr uint64_t kQmCommentOffset = 0x6F;

uint64_t SectorBytes(uint64_t code) {
  return code <= kLargestSizeCode ? uint64_t{128} << code : 0;
}

FloppyLayout Refused(ContainerKind kind, IncompleteReason reason) {
  FloppyLayout layout;
  layout.kind = kind;
  layout.refused = reason;
  return layout;
}

// Counts a track's sectors into `layout`: a track holding more than a drive writes is damage,
// an image unpacking past a floppy's size too large to read.
std::optional<IncompleteReason> AddTrack(FloppyLayout& layout, uint64_t track_bytes) {
  layout.sector_bytes += track_bytes;
  if (track_bytes > kMostTrackBytes) return IncompleteReason::kDamaged;
  if (layout.sector_bytes > kMostFloppyBytes) return IncompleteReason::kSize;
  return std::nullopt;
}

// Adds a track's records to the image libdsk is given, unless the track holds no sector: libdsk
// divides by a track's sector count when it looks for one there.
void KeepTrack(std::vector<uint8_t>& image, std::span<const uint8_t> records, uint8_t count) {
  if (count > 0) image.insert(image.end(), records.begin(), records.end());
}

std::optional<FloppyLayout> ReadImd(std::span<const uint8_t> file) {
  const auto end = std::find(file.begin(), file.end(), kImdHeaderEnd);
  if (end == file.end()) return std::nullopt;
  FloppyLayout layout;
  layout.kind = ContainerKind::kImd;
  uint64_t at = static_cast<uint64_t>(end - file.begin()) + 1;
  layout.image.assign(file.begin(), file.begin() + static_cast<ptrdiff_t>(at));
  // A text that starts with "IMD " is no image: the first track must check out.
  bool first_track = true;
  auto damaged = [&]() -> std::optional<FloppyLayout> {
    if (first_track) return std::nullopt;
    return Refused(layout.kind, IncompleteReason::kDamaged);
  };
  while (at < file.size() || first_track) {
    const uint64_t track = at;
    if (!Fits(file, at, 5)) return damaged();
    const uint8_t mode = file[at];
    const uint8_t head = file[at + 2];
    const uint8_t count = file[at + 3];
    const uint8_t size_code = file[at + 4];
    if (mode > kImdLastMode || (head & ~(kImdCylinderMap | kImdHeadMap | 1)) != 0 ||
        (size_code != kImdSizeTable && SectorBytes(size_code) == 0)) {
      return damaged();
    }
    // The sectors' numbers, then the cylinder and head maps where the head byte says so.
    at += 5;
    const uint64_t numbers = at;
    at += count;
    if ((head & kImdCylinderMap) != 0) at += count;
    if ((head & kImdHeadMap) != 0) at += count;
    const uint64_t sizes = at;
    if (size_code == kImdSizeTable) at += 2 * uint64_t{count};
    if (!Fits(file, numbers, at - numbers)) return damaged();
    uint64_t track_bytes = 0;
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t size =
          size_code == kImdSizeTable ? ReadU16(file, sizes + 2 * i) : SectorBytes(size_code);
      if (size == 0 || size > SectorBytes(kLargestSizeCode) || !Fits(file, at, 1) ||
          file[at] > kImdLastRecord) {
        return damaged();
      }
      const uint8_t record = file[at++];
      // A sector not read when the image was made holds nothing; libdsk fails its reads.
      if (record == 0) continue;
      // Odd records hold the sector's bytes, even ones the one byte it is filled with.
      at += record % 2 == 1 ? size : 1;
      if (at > file.size()) return damaged();
      track_bytes += size;
    }
    if (const auto reason = AddTrack(layout, track_bytes)) return Refused(layout.kind, *reason);
    KeepTrack(layout.image, file.subspan(track, at - track), count);
    first_track = false;
  }
  return layout;
}

// The bytes of a TeleDisk sector's data block: raw, one repeated pair, or runs; false when
// the block's length or its runs say another size than the sector's.
bool TdBlockFits(std::span<const uint8_t> block, uint64_t size) {
  if (block.empty()) return false;
  const uint8_t encoding = block[0];
  const std::span<const uint8_t> data = block.subspan(1);
  if (encoding == 0) return data.size() == size;
  if (encoding == 1) return data.size() == 4 && ReadU16(data, 0) * uint64_t{2} == size;
  if (encoding != 2) return false;
  uint64_t filled = 0;
  uint64_t at = 0;
  while (at < data.size()) {
    if (!Fits(data, at, 2)) return false;
    const uint8_t type = data[at];
    const uint8_t count = data[at + 1];
    at += 2;
    if (type > kLargestPatternCode) return false;
    const uint64_t run = type == 0 ? count : uint64_t{1} << type;
    if (!Fits(data, at, run)) return false;
    at += run;
    filled += type == 0 ? run : run * count;
    if (filled > size) return false;
  }
  return filled == size;
}

FloppyLayout ReadTd0(std::span<const uint8_t> file) {
  FloppyLayout layout;
  layout.kind = ContainerKind::kTd0;
  std::vector<uint8_t> image(file.begin(), file.begin() + kTdHeaderBytes);
  if (file[0] == 't') {
    if (file[kTdVersionOffset] < kTdAdvancedVersion) {
      return Refused(layout.kind, IncompleteReason::kUnsupported);
    }
    std::optional<std::vector<uint8_t>> unpacked =
        UnpackTeleDisk(file.subspan(kTdHeaderBytes), kMostFloppyBytes);
    if (!unpacked) return Refused(layout.kind, IncompleteReason::kSize);
    image.insert(image.end(), unpacked->begin(), unpacked->end());
    // The library reads what it is given as a file without the compression.
    image[0] = 'T';
    image[1] = 'D';
    WriteU16(image.data() + kTdCrcOffset, TeleDiskCrc(std::span(image).first(kTdCrcOffset)));
  } else {
    image.assign(file.begin(), file.end());
  }
  const std::span<const uint8_t> bytes(image);
  uint64_t at = kTdHeaderBytes;
  if ((bytes[kTdStepOffset] & kTdHasComment) != 0) {
    at += kTdCommentHeaderBytes + ReadU16(bytes, at + 2);
  }
  if (!Fits(bytes, 0, at)) return Refused(layout.kind, IncompleteReason::kDamaged);
  layout.image.assign(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(at));
  while (true) {
    const uint64_t track = at;
    if (!Fits(bytes, at, 1)) return Refused(layout.kind, IncompleteReason::kDamaged);
    const uint8_t count = bytes[at];
    if (count == kTdEnd) {
      layout.image.push_back(kTdEnd);
      break;
    }
    if (!Fits(bytes, at, 4)) return Refused(layout.kind, IncompleteReason::kDamaged);
    at += 4;
    uint64_t track_bytes = 0;
    for (uint32_t i = 0; i < count; ++i) {
      if (!Fits(bytes, at, 6)) return Refused(layout.kind, IncompleteReason::kDamaged);
      const uint64_t size = SectorBytes(bytes[at + 3]);
      const uint8_t flags = bytes[at + 4];
      if (size == 0) return Refused(layout.kind, IncompleteReason::kDamaged);
      // As in ImageDisk, a sector without data is one libdsk fails to read.
      if ((flags & kTdNoData) != 0) {
        at += 6;
        continue;
      }
      const uint64_t length = ReadU16(bytes, at + 6);
      at += 8;
      if (!Fits(bytes, at, length) || !TdBlockFits(bytes.subspan(at, length), size)) {
        return Refused(layout.kind, IncompleteReason::kDamaged);
      }
      at += length;
      track_bytes += size;
    }
    if (const auto reason = AddTrack(layout, track_bytes)) return Refused(layout.kind, *reason);
    KeepTrack(layout.image, bytes.subspan(track, at - track), count);
  }
  return layout;
}

FloppyLayout ReadCqm(std::span<const uint8_t> file) {
  FloppyLayout layout;
  layout.kind = ContainerKind::kCqm;
  const uint64_t sector = ReadU16(file, kQmSectorSizeOffset);
  const uint64_t sectors = ReadU16(file, kQmSectorsOffset);
  const uint64_t heads = ReadU16(file, kQmHeadsOffset);
  const uint64_t cylinders = file[kQmCylindersOffset];
  const uint64_t track_bytes = sectors * sector;
  if (sector < 128 || sector > SectorBytes(kLargestSizeCode) || (sector & (sector - 1)) != 0 ||
      sectors == 0 || heads == 0 || heads > 2 || cylinders == 0) {
    return Refused(layout.kind, IncompleteReason::kDamaged);
  }
  for (uint64_t track = 0; track < cylinders * heads; ++track) {
    if (const auto reason = AddTrack(layout, track_bytes)) return Refused(layout.kind, *reason);
  }
  // The runs must hold every sector the header counts: a file that ends before is cut short.
  uint64_t at = kQmHeaderBytes + ReadU16(file, kQmCommentOffset);
  uint64_t unpacked = 0;
  while (unpacked < layout.sector_bytes) {
    if (!Fits(file, at, 2)) return Refused(layout.kind, IncompleteReason::kDamaged);
    const auto run = static_cast<int16_t>(ReadU16(file, at));
    at += 2 + (run < 0 ? 1 : static_cast<uint64_t>(run));
    if (at > file.size()) return Refused(layout.kind, IncompleteReason::kDamaged);
    unpacked += static_cast<uint64_t>(run < 0 ? -run : run);
  }
  layout.image.assign(file.begin(), file.end());
  return layout;
}

}  // namespace

uint16_t TeleDiskCrc(std::span<const uint8_t> bytes) {
  uint16_t crc = 0;
  for (const uint8_t byte : bytes) {
    crc ^= static_cast<uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) != 0 ? static_cast<uint16_t>((crc << 1) ^ 0xA097)
                                : static_cast<uint16_t>(crc << 1);
    }
  }
  return crc;
}

std::optional<ContainerKind> FloppyKind(std::span<const uint8_t> head) {
  if (BytesEqual(head, 0, kImdSignature, sizeof kImdSignature)) return ContainerKind::kImd;
  if (Fits(head, 0, kTdHeaderBytes) &&
      ((head[0] == 'T' && head[1] == 'D') || (head[0] == 't' && head[1] == 'd')) &&
      TeleDiskCrc(head.first(kTdCrcOffset)) == ReadU16(head, kTdCrcOffset)) {
    return ContainerKind::kTd0;
  }
  if (BytesEqual(head, 0, kQmSignature, sizeof kQmSignature) && Fits(head, 0, kQmHeaderBytes)) {
    uint8_t sum = 0;
    for (uint64_t i = 0; i < kQmHeaderBytes; ++i) sum = static_cast<uint8_t>(sum + head[i]);
    if (sum == 0) return ContainerKind::kCqm;
  }
  return std::nullopt;
}

std::optional<FloppyLayout> ReadFloppyLayout(std::span<const uint8_t> file) {
  const std::optional<ContainerKind> kind = FloppyKind(file);
  if (!kind) return std::nullopt;
  if (*kind == ContainerKind::kImd) return ReadImd(file);
  if (*kind == ContainerKind::kCqm) return ReadCqm(file);
  return ReadTd0(file);
}

}  // namespace quarn
