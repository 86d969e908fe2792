#include "containers/wrappers/cd_raw_reader.h"

#include <algorithm>
#include <cstring>

#include "containers/disks/file_block_device.h"
#include "containers/wrappers/cue_sheet.h"
#include "containers/wrappers/read_only_device.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"
#include "platform/read_only_file.h"

namespace quarn {
namespace {

constexpr uint64_t kRawSector = 2352;
constexpr uint64_t kUserSector = 2048;
constexpr uint8_t kSync[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr uint64_t kModeOffset = 15;
// Mode 2's sub-header (written twice) follows the header; its sub-mode byte tells form 2.
constexpr uint64_t kSubModeOffset = 18;
constexpr uint8_t kForm2 = 0x20;
constexpr uint64_t kMode1Data = 16;
constexpr uint64_t kMode2Data = 24;
// The primary volume descriptor: sector 16 of the data track.
constexpr uint64_t kDescriptorSector = 16;
constexpr uint8_t kIsoIdentifier[] = {'C', 'D', '0', '0', '1'};

// The user data of a track that starts `start` bytes into `file`, in sectors of
// `sector_size` bytes whose data lies `data_offset` bytes in.
class CdRawDevice : public ReadOnlyDevice {
 public:
  CdRawDevice(std::shared_ptr<BlockDevice> file, uint64_t start, uint64_t sector_size,
              uint64_t data_offset)
      : file_(std::move(file)),
        start_(start),
        sector_size_(sector_size),
        data_offset_(data_offset) {}

  uint64_t Size() const override {
    const uint64_t size = file_->Size();
    return size > start_ ? (size - start_) / sector_size_ * kUserSector : 0;
  }

  size_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
    const uint64_t size = Size();
    if (offset >= size) return 0;
    const uint64_t wanted = std::min<uint64_t>(length, size - offset);
    auto* out = static_cast<uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < wanted) {
      const uint64_t sector = (offset + done) / kUserSector;
      const uint64_t within = (offset + done) % kUserSector;
      const uint64_t step = std::min(wanted - done, kUserSector - within);
      const uint64_t at = start_ + sector * sector_size_ + data_offset_ + within;
      if (file_->ReadAt(at, out + done, step) != step) break;
      done += step;
    }
    return done;
  }

 private:
  std::shared_ptr<BlockDevice> file_;
  uint64_t start_;
  uint64_t sector_size_;
  uint64_t data_offset_;
};

class DeviceFile : public ReadOnlyFile {
 public:
  explicit DeviceFile(std::shared_ptr<BlockDevice> device) : device_(std::move(device)) {}

  uint32_t Read(void* buffer, uint32_t length) override {
    const size_t got = device_->ReadAt(position_, buffer, length);
    position_ += got;
    return static_cast<uint32_t>(got);
  }
  std::optional<uint64_t> Size() override { return device_->Size(); }

 private:
  std::shared_ptr<BlockDevice> device_;
};

// Whether the user data holds an ISO 9660 volume: its first descriptor where it belongs.
bool HoldsIsoVolume(BlockDevice& user_data) {
  const std::vector<uint8_t> descriptor =
      ReadExactly(user_data, kDescriptorSector * kUserSector + 1, sizeof kIsoIdentifier);
  return BytesEqual(descriptor, 0, kIsoIdentifier, sizeof kIsoIdentifier);
}

}  // namespace

bool MayBeCdRaw(std::span<const uint8_t> head) {
  return BytesEqual(head, 0, kSync, sizeof kSync);
}

std::optional<WrappedDisk> ReadCdRaw(const std::shared_ptr<BlockDevice>& file) {
  const uint64_t size = file->Size();
  if (size % kRawSector != 0 || size / kRawSector <= kDescriptorSector) return std::nullopt;
  const std::vector<uint8_t> sector =
      ReadExactly(*file, kDescriptorSector * kRawSector, kRawSector);
  if (sector.size() != kRawSector || !BytesEqual(sector, 0, kSync, sizeof kSync)) {
    return std::nullopt;
  }
  uint64_t data_offset = 0;
  if (sector[kModeOffset] == 1) {
    data_offset = kMode1Data;
  } else if (sector[kModeOffset] == 2 && (sector[kSubModeOffset] & kForm2) == 0) {
    data_offset = kMode2Data;
  } else {
    return std::nullopt;
  }
  auto disk = std::make_shared<CdRawDevice>(file, 0, kRawSector, data_offset);
  if (!HoldsIsoVolume(*disk)) return std::nullopt;
  return WrappedDisk{ContainerKind::kCdraw, std::move(disk), {}};
}

std::optional<WrappedDisk> ReadCueSheet(const std::shared_ptr<File>& file,
                                        const SiblingOpener& siblings) {
  const std::optional<uint64_t> size = file->Size();
  if (!size || *size > kMostCueSheetBytes) return std::nullopt;
  std::string text(*size, '\0');
  const auto head = static_cast<uint32_t>(std::min<uint64_t>(*size, kContainerHeadBytes));
  if (!ReadExactlyAt(*file, 0, text.data(), head) ||
      !MayBeCueSheet({reinterpret_cast<const uint8_t*>(text.data()), head}) ||
      !ReadExactlyAt(*file, head, text.data() + head, static_cast<uint32_t>(*size - head))) {
    return std::nullopt;
  }
  const std::optional<CueSheet> sheet = ParseCueSheet(text);
  if (!sheet) return std::nullopt;
  // Inside a container there are no siblings.
  std::shared_ptr<File> data;
  if (sheet->readable && siblings) data = siblings(sheet->file);
  if (!data) return UnsupportedWrapper(ContainerKind::kCdraw);
  auto disk =
      std::make_shared<CdRawDevice>(FileBlockDevice::Open(std::move(data)), sheet->track_start,
                                    sheet->sector_size, sheet->data_offset);
  // The sheet is a cue sheet whatever its file holds: a track that is no ISO 9660 volume in
  // the mode it gives is the wrapper's damage.
  if (!HoldsIsoVolume(*disk)) {
    return WrappedDisk{ContainerKind::kCdraw, nullptr, {{"", IncompleteReason::kDamaged}}};
  }
  return WrappedDisk{ContainerKind::kCdraw, std::move(disk), {}};
}

std::shared_ptr<File> UserDataFile(std::shared_ptr<BlockDevice> disk) {
  return std::make_shared<DeviceFile>(std::move(disk));
}

}  // namespace quarn
