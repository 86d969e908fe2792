#include "containers/fat/fat_file_system.h"

#include "containers/fat/fat_folder.h"
#include "containers/fat/fat_table.h"
#include "platform/path_names.h"

namespace quarn {

FatFileSystem::FatFileSystem(std::shared_ptr<BlockDevice> volume, const FatGeometry& geometry)
    : volume_(std::make_shared<FatVolume>(std::move(volume), geometry)) {
  if (volume_->device().Writable() && !FatTable::CopiesAgree(*volume_)) {
    fat_copies_differ_ = true;
    volume_->NoteFatCopiesDiffer();
  }
  ReportOpeningDamage();
}

void FatFileSystem::ReportOpeningDamage() {
  if (volume_->device().Size() < volume_->geometry().VolumeBytes() || fat_copies_differ_) {
    volume_->ReportDamage("");
  }
}

void FatFileSystem::StartOver() {
  volume_->StartOver();
  ReportOpeningDamage();
}

Result<std::unique_ptr<Folder>> FatFileSystem::OpenFolder(const std::string& path) {
  std::unique_ptr<Folder> folder(new FatFolder(volume_, FatFolderPlace{}));
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      Result<std::unique_ptr<Folder>> next = folder->OpenFolder(path.substr(start, end - start));
      if (!next) return next.status();
      folder = std::move(*next);
    }
    start = end + 1;
  }
  return folder;
}

Result<std::unique_ptr<Folder>> FatFileSystem::OpenEntryFolder(const EntryPlace& place) {
  FatFolderPlace folder_place{{0}, place.folder_path};
  if (place.folder > UINT32_MAX) {
    return Status::Error(PathMessage("cannot open folder", place.folder_path, ErrnoText(ENOENT)));
  }
  if (place.folder != 0) folder_place.clusters.push_back(static_cast<uint32_t>(place.folder));
  std::optional<uint64_t> only_slot;
  if (place.slot != 0) only_slot = place.slot;
  return std::unique_ptr<Folder>(new FatFolder(volume_, std::move(folder_place), only_slot));
}

Status FatFileSystem::CreateFolders(const std::string& path) {
  return Status::Error(PathMessage("cannot create folder", path,
                                   volume_->device().Writable()
                                       ? "not supported inside a disk image"
                                       : "the disk image is read only"));
}

Result<std::string> FatFileSystem::ReadLink(const std::string& path) {
  return Status::Error(PathMessage("cannot read link", path, "a FAT volume holds no links"));
}

}  // namespace quarn
