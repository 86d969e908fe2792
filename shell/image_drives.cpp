#include "shell/image_drives.h"

#include <algorithm>

#include "containers/disks/block_device.h"
#include "containers/wrappers/sibling_files.h"
#include "platform/path_names.h"
#include "platform/posix_folder.h"

namespace quarn {
namespace {

// A wrapper's layer, named "", comes first.
std::vector<PathLayer> LayersOf(const OpenedContainer& container, const ContainerVolume& volume) {
  std::vector<PathLayer> layers;
  if (container.wrapper)
    layers.push_back({std::string(ContainerKindName(container.wrapper->kind)), ""});
  if (volume.partition_number != 0) {
    layers.push_back({"mbr", std::to_string(volume.partition_number)});
  }
  layers.push_back({std::string(ContainerKindName(volume.kind)), ""});
  return layers;
}

char UpperLetter(char letter) {
  return letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
}

std::string LetterText(char letter) {
  return std::string(1, letter) + ":";
}

}  // namespace

std::string InnerPathOf(const std::string& volume_path) {
  std::string inner;
  size_t start = 0;
  while (start < volume_path.size()) {
    size_t end = volume_path.find('/', start);
    if (end == std::string::npos) end = volume_path.size();
    if (end > start) {
      if (!inner.empty()) inner += '\\';
      inner += volume_path.substr(start, end - start);
    }
    start = end + 1;
  }
  return inner;
}

bool IsDrivePath(const std::string& path) {
  const char letter = path.empty() ? 0 : UpperLetter(path[0]);
  return letter >= 'A' && letter <= 'Z' && path.size() >= 2 && path[1] == ':' &&
         (path.size() == 2 || path[2] == '\\' || path[2] == '/');
}

std::string DriveLettersNamed(const std::vector<std::string>& paths) {
  std::string letters;
  for (const std::string& path : paths) {
    if (IsDrivePath(path)) letters += UpperLetter(path[0]);
  }
  return letters;
}

const OpenedContainer* ImageDrives::OpenFile(const std::string& path, std::unique_ptr<File> file,
                                             ContainerOpener& opener) {
  opener_ = &opener;
  std::pair<uint64_t, uint64_t> identity{0, 0};
  // A wrapper made of several files (a VMDK descriptor and its extents) finds them in the
  // image's own folder, and only there.
  std::unique_ptr<Folder> folder;
  SiblingOpener siblings;
  if (const std::optional<FileInfo> info = file->GetInfo()) {
    identity = {info->device, info->inode};
    identities_.push_back(identity);
    const std::string absolute = AbsoluteHostPath(path, WorkingFolderPath());
    Result<std::unique_ptr<Folder>> opened =
        OpenPosixFileSystem()->OpenFolder(ParentPath(absolute));
    if (opened) {
      folder = std::move(*opened);
      siblings = SiblingsIn(*folder, *info, BaseName(absolute));
    }
  }
  std::optional<OpenedContainer> container =
      opener.OpenWithSiblings(std::shared_ptr<File>(std::move(file)), siblings);
  if (!container) return nullptr;
  images_.push_back(std::make_unique<OpenImage>(OpenImage{path, std::move(*container), identity}));
  return &images_.back()->container;
}

void ImageDrives::ReopenReplaced() {
  for (std::unique_ptr<OpenImage>& image : images_) {
    Result<std::unique_ptr<File>> file = OpenDiskImageForReading(image->path);
    if (!file) continue;
    const std::optional<FileInfo> info = (*file)->GetInfo();
    if (!info || std::pair{info->device, info->inode} == image->identity) continue;
    std::optional<OpenedContainer> container =
        opener_->Open(std::shared_ptr<File>(std::move(*file)));
    if (!container) continue;
    auto fresh = std::make_unique<OpenImage>(
        OpenImage{image->path, std::move(*container), {info->device, info->inode}});
    std::replace(identities_.begin(), identities_.end(), image->identity, fresh->identity);
    for (ImageDrive& drive : drives_) {
      if (drive.image != image->path || drive.volume_index >= fresh->container.volumes.size()) {
        continue;
      }
      ContainerVolume& volume = fresh->container.volumes[drive.volume_index];
      drive.files = volume.files.get();
      if (!drive.boot_sector.empty()) drive.boot_sector = volume.boot_sector;
    }
    replaced_.push_back(std::move(image));
    image = std::move(fresh);
  }
}

std::vector<std::string> ImageDrives::Open(const std::vector<DiskMapping>& disks,
                                           ContainerOpener& opener, bool drives_detected,
                                           DriveMap* drives, const std::string& named_letters) {
  std::vector<std::string> problems;
  std::vector<Drive> kept;  // the map's drives, those of images without their folder
  std::vector<Drive> detected;
  for (const Drive& drive : drives->drives()) {
    if (drives_detected) {
      detected.push_back(drive);
      continue;
    }
    Drive copy = drive;
    // A folder (or what cannot be opened as an image) stays a folder drive; anything else a
    // drive names is taken for a disk image.
    Result<std::unique_ptr<File>> image = drive.HasFiles()
                                              ? OpenDiskImageForReading(drive.folder)
                                              : Result<std::unique_ptr<File>>(Status::Error(""));
    if (image) {
      const OpenedContainer* container = OpenFile(drive.folder, std::move(*image), opener);
      if (container == nullptr || container->volumes.empty()) {
        problems.push_back("drive " + LetterText(drive.letter) + " " + drive.folder +
                           ": not a disk image with a FAT volume; the drive has no files");
      } else {
        const ContainerVolume& volume = container->volumes.front();
        drives_.push_back({drive.letter, drive.folder, LayersOf(*container, volume),
                           volume.files.get(), volume.boot_sector, 0, container->Changeable()});
      }
      copy.folder.clear();
    }
    kept.push_back(std::move(copy));
  }
  auto taken = [&](char letter) {
    return std::any_of(kept.begin(), kept.end(),
                       [&](const Drive& d) { return d.letter == letter; });
  };
  for (const DiskMapping& disk : disks) {
    // An image that cannot be opened is told by the check of the run's images.
    Result<std::unique_ptr<File>> image = OpenDiskImageForReading(disk.image);
    const OpenedContainer* container =
        image ? OpenFile(disk.image, std::move(*image), opener) : nullptr;
    if (container != nullptr && container->wrapper) {
      wrapped_disks_.emplace_back(disk.bios_disk, container->wrapper->disk);
    }
    if (disk.bios_disk <= 1) {
      const char letter = disk.bios_disk == 0 ? 'A' : 'B';
      if (taken(letter)) continue;
      if (container != nullptr && !container->volumes.empty() &&
          container->kind != ContainerKind::kMbr) {
        const ContainerVolume& volume = container->volumes.front();
        drives_.push_back({letter,
                           disk.image,
                           LayersOf(*container, volume),
                           volume.files.get(),
                           {},
                           0,
                           container->Changeable()});
      }
      // A floppy that holds no FAT volume is still a drive: its boot sector is checked.
      kept.push_back(Drive{letter, "", DriveType::kRemovable});
      continue;
    }
    if (container == nullptr) continue;
    for (size_t index = 0; index < container->volumes.size(); ++index) {
      const ContainerVolume& volume = container->volumes[index];
      if (volume.letter.empty() || taken(volume.letter[0])) continue;
      drives_.push_back({volume.letter[0], disk.image, LayersOf(*container, volume),
                         volume.files.get(), volume.boot_sector, index, container->Changeable()});
      kept.push_back(Drive{volume.letter[0], "", DriveType::kFixed});
    }
  }
  const bool hard_disk = std::any_of(disks.begin(), disks.end(),
                                     [](const DiskMapping& disk) { return disk.bios_disk > 1; });
  for (char named : named_letters) {
    const char letter = UpperLetter(named);
    if (hard_disk && letter >= 'C' && letter <= 'Z' && !taken(letter)) {
      kept.push_back(Drive{letter, "", DriveType::kFixed});
    }
  }
  // Detected mounts yield to the images: when one's letter is an image's, they all move,
  // in their order, to the letters after the last image letter.
  char last_image = 0;
  for (const ImageDrive& drive : drives_) last_image = std::max(last_image, drive.letter);
  for (const Drive& drive : kept) last_image = std::max(last_image, drive.letter);
  const bool collide = std::any_of(detected.begin(), detected.end(),
                                   [&](const Drive& drive) { return taken(drive.letter); });
  char next = static_cast<char>(last_image + 1);
  for (Drive drive : detected) {
    if (collide) {
      if (next > 'Z') break;  // no letter is left for it
      drive.letter = next++;
    }
    kept.push_back(std::move(drive));
  }
  DriveMap rebuilt;
  for (Drive& drive : kept) (void)rebuilt.Add(std::move(drive));
  *drives = std::move(rebuilt);
  std::sort(drives_.begin(), drives_.end(),
            [](const ImageDrive& a, const ImageDrive& b) { return a.letter < b.letter; });
  return problems;
}

void ImageDrives::ShareWrappedSectors(ImageSystemAccess& access) const {
  for (const auto& [bios_disk, disk] : wrapped_disks_) {
    ImageSystemAccess::WrappedSectors sectors;
    if (disk) {
      sectors.size = disk->Size();
      // clang before 16 cannot capture a structured binding by name.
      sectors.read = [device = disk](uint64_t offset, std::span<uint8_t> out) {
        return device->ReadAt(offset, out.data(), out.size());
      };
    }
    access.ReadThroughWrapper(bios_disk, std::move(sectors));
  }
}

const ImageDrive* ImageDrives::Find(char letter) const {
  const char upper = UpperLetter(letter);
  for (const ImageDrive& drive : drives_) {
    if (drive.letter == upper) return &drive;
  }
  return nullptr;
}

}  // namespace quarn
