#pragma once

#include <memory>
#include <string>

#include "containers/disks/block_device.h"
#include "containers/container.h"
#include "containers/fat/fat_geometry.h"
#include "containers/fat/fat_volume.h"

namespace quarn {

// One FAT volume as a file system: paths are "/" for the root and "/DOS/UTIL" below it
// ("" opens the root too; "\" is not a separator). Read only, unless the device is
// writable: then files may be rewritten, cut, deleted and renamed (see FatFolder).
class FatFileSystem : public ContainerFileSystem {
 public:
  // `volume` starts at the volume's boot sector; `geometry` is what RecognizeFat found
  // there. A volume that claims more bytes than the device holds is reported as damaged
  // at once. On a writable device, FAT copies that differ are damage too, found at once,
  // and the volume is never changed.
  FatFileSystem(std::shared_ptr<BlockDevice> volume, const FatGeometry& geometry);

  Result<std::unique_ptr<Folder>> OpenFolder(const std::string& path) override;
  Status CreateFolders(const std::string& path) override;
  Result<std::string> ReadLink(const std::string& path) override;
  std::vector<ContainerDamage> TakeDamage() override { return volume_->TakeDamage(); }
  void StartOver() override;
  // The folders between the root and `place.folder` are not known here: a subfolder that
  // names one of them is not told as damage, as the walk that gave the place told it already.
  Result<std::unique_ptr<Folder>> OpenEntryFolder(const EntryPlace& place) override;

 private:
  void ReportOpeningDamage();

  std::shared_ptr<FatVolume> volume_;
  bool fat_copies_differ_ = false;
};

}  // namespace quarn
