#include "containers/wrappers/wrapper_opener.h"

#include "containers/disks/disk_image_opener.h"
#include "containers/disks/file_block_device.h"
#include "containers/wrappers/vdi_reader.h"
#include "containers/wrappers/vhd_reader.h"

namespace quarn {
namespace {

constexpr uint64_t kSector = 512;

using Reader = std::optional<WrappedDisk> (*)(const std::shared_ptr<BlockDevice>&);
constexpr Reader kReaders[] = {ReadVdi, ReadVhd};

}  // namespace

bool WrapperOpener::MayOpen(std::span<const uint8_t> head, uint64_t size) const {
  if (MayBeVdi(head) || MayBeDynamicVhd(head)) return true;
  // A fixed VHD starts with its disk's first sector and ends with a sector of footer.
  return size >= 2 * kSector && size % kSector == 0 &&
         DiskImageOpener().MayOpen(head, size - kSector);
}

std::optional<OpenedContainer> WrapperOpener::Open(std::shared_ptr<File> file) {
  if (!file) return std::nullopt;
  const std::shared_ptr<BlockDevice> device = FileBlockDevice::Open(std::move(file));
  for (Reader reader : kReaders) {
    std::optional<WrappedDisk> wrapped = reader(device);
    if (!wrapped) continue;
    std::optional<OpenedContainer> opened;
    if (wrapped->disk) opened = OpenDisk(wrapped->disk);
    if (!opened) {
      opened.emplace();
      opened->kind = wrapped->kind;
    }
    opened->wrapper = OpenedContainer::Wrapper{wrapped->kind, std::move(wrapped->damage)};
    return opened;
  }
  return std::nullopt;
}

}  // namespace quarn
