#include "containers/wrappers/wrapper_opener.h"

#include "containers/archives/libarchive_opener.h"
#include "containers/disks/disk_image_opener.h"
#include "containers/disks/file_block_device.h"
#include "containers/wrappers/cd_raw_reader.h"
#include "containers/wrappers/cue_sheet.h"
#include "containers/wrappers/floppy_formats.h"
#include "containers/wrappers/floppy_reader.h"
#include "containers/wrappers/ewf_reader.h"
#include "containers/wrappers/library_readers.h"
#include "containers/wrappers/unpack_meter.h"
#include "containers/wrappers/vdi_reader.h"
#include "containers/wrappers/vhd_reader.h"

namespace quarn {
namespace {

constexpr uint64_t kSector = 512;

// Readers of our own read the file through a device; the libraries open it themselves.
using Reader = std::optional<WrappedDisk> (*)(const std::shared_ptr<BlockDevice>&);
constexpr Reader kReaders[] = {ReadVdi, ReadVhd, ReadCdRaw};
using LibraryReader = std::optional<WrappedDisk> (*)(const std::shared_ptr<File>&);
constexpr LibraryReader kLibraryReaders[] = {ReadQcow, ReadVhdx, ReadFloppy};

OpenedContainer Opened(WrappedDisk wrapped) {
  std::shared_ptr<UnpackMeter> meter;
  if (wrapped.disk && wrapped.unpacks) {
    meter = std::make_shared<UnpackMeter>();
    wrapped.disk = std::make_shared<MeteredDevice>(std::move(wrapped.disk), meter);
  }
  std::optional<OpenedContainer> opened;
  // A CD's user data is an ISO 9660 volume, read as an ISO file is.
  if (wrapped.disk && wrapped.kind == ContainerKind::kCdraw) {
    opened = LibarchiveOpener().Open(UserDataFile(wrapped.disk));
    if (opened && opened->kind != ContainerKind::kIso9660) opened.reset();
  } else if (wrapped.disk) {
    opened = OpenDisk(wrapped.disk);
  }
  if (!opened) {
    opened.emplace();
    opened->kind = wrapped.kind;
  }
  opened->wrapper = OpenedContainer::Wrapper{wrapped.kind, std::move(wrapped.damage),
                                             std::move(wrapped.disk), std::move(meter),
                                             wrapped.unpacked};
  return std::move(*opened);
}

}  // namespace

bool WrapperOpener::MayOpen(std::span<const uint8_t> head, uint64_t size) const {
  if (MayBeVdi(head) || MayBeDynamicVhd(head) || MayBeQcow(head) || MayBeVhdx(head) ||
      MayBeVmdk(head) || MayBeEwf(head) || MayBeCdRaw(head) || MayBeCueSheet(head) ||
      FloppyKind(head)) {
    return true;
  }
  // A fixed VHD starts with its disk's first sector and ends with a sector of footer.
  return size >= 2 * kSector && size % kSector == 0 &&
         DiskImageOpener().MayOpen(head, size - kSector);
}

std::optional<OpenedContainer> WrapperOpener::Open(std::shared_ptr<File> file) {
  return OpenWithSiblings(std::move(file), {});
}

std::optional<OpenedContainer> WrapperOpener::OpenWithSiblings(std::shared_ptr<File> file,
                                                               const SiblingOpener& siblings) {
  if (!file) return std::nullopt;
  for (LibraryReader reader : kLibraryReaders) {
    if (std::optional<WrappedDisk> wrapped = reader(file)) return Opened(std::move(*wrapped));
  }
  if (std::optional<WrappedDisk> wrapped = ReadVmdk(file, siblings)) {
    return Opened(std::move(*wrapped));
  }
  if (std::optional<WrappedDisk> wrapped = ReadCueSheet(file, siblings)) {
    return Opened(std::move(*wrapped));
  }
  if (std::optional<WrappedDisk> wrapped = ReadEwf(file, siblings)) {
    return Opened(std::move(*wrapped));
  }
  const std::shared_ptr<BlockDevice> device = FileBlockDevice::Open(std::move(file));
  for (Reader reader : kReaders) {
    if (std::optional<WrappedDisk> wrapped = reader(device)) return Opened(std::move(*wrapped));
  }
  return std::nullopt;
}

}  // namespace quarn
