#include "shell/drive_setup.h"

namespace quarn {

void AddFloppiesWithoutFiles(const std::vector<DiskMapping>& disks, DriveMap* drives) {
  for (const DiskMapping& disk : disks) {
    if (disk.bios_disk > 1) continue;
    const char letter = disk.bios_disk == 0 ? 'A' : 'B';
    if (drives->Find(letter) == nullptr)
      drives->AddDriveWithoutFiles(letter, DriveType::kRemovable);
  }
}

BootTargetLookup BootTargetsOf(const DriveMap& drives, const ImageDrives* images) {
  return [&drives, images](const ScanRoot& root) -> std::optional<BootTarget> {
    const std::string& shown = root.display_path;
    if (shown.size() < 2 || shown[1] != ':') return std::nullopt;
    const Drive* drive = drives.Find(shown[0]);
    if (drive == nullptr) return std::nullopt;
    BootTarget target{drive->letter, drive->type, {}};
    if (const ImageDrive* image = images ? images->Find(drive->letter) : nullptr) {
      target.boot_sector = image->boot_sector;
    }
    return target;
  };
}

ResultIcon DriveIcon(const Drive* drive) {
  if (drive == nullptr) return ResultIcon::kHardDisk;
  switch (drive->type) {
    case DriveType::kRemovable:
      return ResultIcon::kFloppy;
    case DriveType::kCdRom:
      return ResultIcon::kCdRom;
    case DriveType::kRemote:
      return ResultIcon::kNetwork;
    case DriveType::kFixed:
    case DriveType::kRamDisk:
      return ResultIcon::kHardDisk;
  }
  return ResultIcon::kHardDisk;
}

}  // namespace quarn
