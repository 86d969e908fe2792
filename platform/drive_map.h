#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace quarn {

// What kind of drive a letter stands for, as the program shows it.
enum class DriveType { kFixed, kRemovable, kCdRom, kRemote, kRamDisk };

// "fixed", "removable", "cdrom", "remote" or "ramdisk": the word the settings store and the
// --drive flag use.
std::string_view DriveTypeName(DriveType type);
// The type a word names, without regard to case; nullopt for any other word.
std::optional<DriveType> DriveTypeFromName(std::string_view name);

// One drive letter. `folder` is the host folder the drive's files live in, without a trailing
// slash ("/" for a drive on the host's root); it is empty for a drive without files (a floppy
// disk image mapped alone), whose boot area can be checked but whose walk finds nothing.
struct Drive {
  char letter = 'C';  // 'A' to 'Z'
  std::string folder;
  DriveType type = DriveType::kFixed;

  bool HasFiles() const { return !folder.empty(); }
  bool operator==(const Drive&) const = default;
};

// The drive letters the program sees and the host folders behind them. Paths are compared as
// text, component by component: nothing here touches the file system.
class DriveMap {
 public:
  // Adds a drive. The letter may be given in either case and is kept upper case; a trailing
  // slash of the folder is dropped. Fails, naming the letter, for a letter outside A to Z or
  // one already mapped.
  Status Add(Drive drive);
  Status AddDriveWithoutFiles(char letter, DriveType type);

  // The drives in letter order.
  const std::vector<Drive>& drives() const { return drives_; }
  bool empty() const { return drives_.empty(); }
  // The drive of a letter in either case; nullptr when the letter is not mapped.
  const Drive* Find(char letter) const;

  // The drive whose folder holds `host_path` (the folder itself included). When folders nest
  // the longest one wins; a folder matches whole components only, so "/srv/files2" is not
  // under "/srv/files". nullptr when no drive holds the path.
  const Drive* DriveOf(const std::string& host_path) const;

  // How the program shows a host path: with the drive letter and backslashes when a drive
  // holds it ("C:\DOS\UTIL"); a drive's own folder is the bare letter ("C:"), a file directly
  // in it "C:\FILE.EXE". A path outside every drive comes back as it is.
  std::string DisplayPath(const std::string& host_path) const;

  // The host path of a scan target: "A:" is the drive's folder; "C:\DOS\UTIL" or
  // "c:/dos/util" is the folder of C: followed by the components as written ("/DOS/UTIL" and
  // "/dos/util"). "." is dropped and ".." goes back one component, but never above the
  // drive's folder. Anything not of these forms is a host path and comes back as it is.
  // Fails, naming the target, for a letter that is not mapped, a drive without files and a
  // ".." that would leave the drive.
  Result<std::string> HostPathOf(const std::string& target) const;

 private:
  std::vector<Drive> drives_;
};

}  // namespace quarn
