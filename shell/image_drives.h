#pragma once

#include <memory>
#include <string>
#include <vector>

#include "containers/container.h"
#include "engine/result_line.h"
#include "platform/drive_map.h"
#include "platform/folder.h"
#include "platform/image_system_access.h"

namespace quarn {

// A drive whose files are a FAT volume of a disk image rather than a host folder.
struct ImageDrive {
  char letter = 'A';
  std::string image;  // the image's host path: the host_path of every report about its files
  // The way in, outermost first: a wrapper's layer named "", an `mbr` layer named by the
  // partition number for a partition, then the volume's own layer, whose name a walk sets to each
  // file's path.
  std::vector<PathLayer> layers;
  ContainerFileSystem* files = nullptr;
  // The volume's first sector, for the boot check of a drive that is not a BIOS floppy:
  // a partition's own, or an image's named by --drive. Empty for A: and B: of disks 0 and 1,
  // whose boot sector the check reads through the disk, where a removal can reach it.
  std::vector<uint8_t> boot_sector;
  size_t volume_index = 0;  // the volume's place among the image's, for its working copy
  // False for a volume inside a wrapper (a VHD): nothing on the drive may change.
  bool changeable = true;
};

// A path inside a volume as the walk and the reports name it: "/DOS/UTIL" is "DOS\UTIL",
// "/" is "".
std::string InnerPathOf(const std::string& volume_path);

// Whether `path` names a drive or a path on one: "C:", "d:\\DOS", "A:/", either case.
bool IsDrivePath(const std::string& path);

// The drive letters that paths of a run name (IsDrivePath), upper case, in their order.
std::string DriveLettersNamed(const std::vector<std::string>& paths);

// The drives a run's disk images give, their images open for the whole run. Built before the
// scan by both front ends: the BIOS disks of --disk or the Disks key give A: (disk 0), B:
// (disk 1) and the lettered FAT partitions of disk 0x80 (C:, D:…); a drive of the map whose
// folder is a disk image (--drive L:=IMAGE) takes that image's first volume. A letter the
// map gives a folder wins: the volume that would have taken it gets none. Drives the map
// detected (mounts) move to the letters after the last image letter.
class ImageDrives {
 public:
  ImageDrives() = default;
  ImageDrives(ImageDrives&&) = default;
  ImageDrives& operator=(ImageDrives&&) = default;

  // `drives_detected`: the map is what drive detection found, not what the user set.
  // Every image letter is added to `drives` as a drive without host files, with its type.
  // `named_letters`: the drive letters the run names (its targets); with a hard-disk image
  // mapped, each one from C: that the map does not give a folder is that disk's, a drive
  // without files when no volume took it, and never a detected mount's: a scan meant for the
  // image must not fall through to the machine.
  // Returns one message per image that cannot be read as a disk, naming it and the cause;
  // its drive then has no files.
  std::vector<std::string> Open(const std::vector<DiskMapping>& disks, ContainerOpener& opener,
                                bool drives_detected, DriveMap* drives,
                                const std::string& named_letters = "");

  // Opens again each image whose path names another file now than when it was opened (a
  // scan changed files inside it and renamed its working copy into its place): its drives
  // read the new file from then on. What was open stays open, unread, so that nothing still
  // holding one of its folders is left dangling. Between scans only.
  void ReopenReplaced();

  // Hands `access` the sectors of each BIOS disk whose image is a wrapper (a VHD), read
  // through the wrapper's reader: its boot areas are read there and never written.
  void ShareWrappedSectors(ImageSystemAccess& access) const;

  // The image drive of a letter in either case, or null.
  const ImageDrive* Find(char letter) const;
  const std::vector<ImageDrive>& drives() const { return drives_; }
  // Every image opened, by device and inode, for ScanSession::set_drive_images.
  const std::vector<std::pair<uint64_t, uint64_t>>& identities() const { return identities_; }

 private:
  struct OpenImage {
    std::string path;
    OpenedContainer container;
    std::pair<uint64_t, uint64_t> identity;  // device and inode
  };
  // Opens the image `file` found at `path`; null when it is no disk of a known kind.
  const OpenedContainer* OpenFile(const std::string& path, std::unique_ptr<File> file,
                                  ContainerOpener& opener);

  ContainerOpener* opener_ = nullptr;
  std::vector<std::unique_ptr<OpenImage>> images_;
  std::vector<std::unique_ptr<OpenImage>> replaced_;
  std::vector<ImageDrive> drives_;
  std::vector<std::pair<uint64_t, uint64_t>> identities_;
  // The BIOS disks whose image is a wrapper, with the wrapper's disk (null: unknown sectors).
  std::vector<std::pair<uint8_t, std::shared_ptr<BlockDevice>>> wrapped_disks_;
};

}  // namespace quarn
