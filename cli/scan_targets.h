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
//  - a drive ("A:") or a path on one ("C:\DOS\UTIL", "c:/dos"): its host path through the
//    drive map; a drive without files is a root with no host folder (its walk finds
//    nothing);
//  - anything else is a host path, relative ones taken from `working_directory`, with "."
//    and ".." worked out in the text;
// then a folder is a root shown as the drive map shows it, with its drive's icon, and a
// regular file is scanned alone, its folder as the root. A target that is neither (absent,
// a link, a device, a letter not mapped) goes to `missing`.
ResolvedTargets ResolveTargets(const std::vector<std::string>& targets, const DriveMap& drives,
                               FileSystem& files, const std::string& working_directory);

// `path` made absolute against `working_directory` and normalised in the text: empty and "."
// components dropped, ".." taking one back (never above "/"), no trailing slash.
std::string AbsoluteHostPath(const std::string& path, const std::string& working_directory);

}  // namespace quarn
