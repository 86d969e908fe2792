#pragma once

#include <string>
#include <vector>

#include "platform/drive_map.h"
#include "platform/folder.h"
#include "shell/drive_setup.h"
#include "shell/scan_driver.h"

namespace quarn {

// The roots a command line's targets make, and the targets that name nothing.
struct ResolvedTargets {
  std::vector<ScanRoot> roots;       // in the order of the targets
  std::vector<std::string> missing;  // as the user typed them
};

// Turns each target into a root of the scan driver:
//  - a drive ("A:", "A:\\" or "a:/") or a path on one ("C:\DOS\UTIL", "c:/dos"): its host path
//  through the
//    drive map; a drive without files is a root with no host folder (its walk finds
//    nothing);
//  - anything else is a host path, relative ones taken from `working_directory`, with "."
//    and ".." worked out in the text;
// then a folder is a root shown as the drive map shows it, with its drive's icon, and a
// regular file is scanned alone, its folder as the root; a link named this way is followed
// (links met in a walk never are). A target that is none of these (absent, a device, a
// letter not mapped) goes to `missing`. `working_directory` "" means it cannot be named
// (removed): every relative target is then missing. A drive of `images` (may be null) is
// looked into instead: its folders and files are those of its volume, named without
// regard to case.
ResolvedTargets ResolveTargets(const std::vector<std::string>& targets, const DriveMap& drives,
                               FileSystem& files, const std::string& working_directory,
                               const ImageDrives* images = nullptr);

}  // namespace quarn
