#include "containers/wrappers/cd_raw_reader.h"

#include <algorithm>
#include <cstring>

#include "containers/wrappers/read_only_device.h"
#include "platform/byte_reader.h"
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

class CdRawDevice : public ReadOnlyDevice {
 public:
  CdRawDevice(std::shared_ptr<BlockDevice> file, uint64_t data_offset)
      : file_(std::move(file)), data_offset_(data_offset) {}

  uint64_t Size() const override { return file_->Size() / kRawSector * kUserSector; }

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
      const uint64_t at = sector * kRawSector + data_offset_ + within;
      if (file_->ReadAt(at, out + done, step) != step) break;
      done += step;
    }
    return done;
  }

 private:
  std::shared_ptr<BlockDevice> file_;
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
  if (!BytesEqual(sector, data_offset + 1, kIsoIdentifier, sizeof kIsoIdentifier)) {
    return std::nullopt;
  }
  return WrappedDisk{ContainerKind::kCdraw, std::make_shared<CdRawDevice>(file, data_offset), {}};
}

std::shared_ptr<File> UserDataFile(std::shared_ptr<BlockDevice> disk) {
  return std::make_shared<DeviceFile>(std::move(disk));
}

}  // namespace quarn
