#pragma once

#include <vector>

#include "platform/drive_map.h"
#include "platform/image_system_access.h"
#include "shell/boot_scan.h"
#include "shell/image_drives.h"

namespace quarn {

// What both front ends do with the drive map and the BIOS disks before a scan.

// A floppy disk mapped without a drive folder still makes its letter a drive: one without
// files, whose boot check runs and whose walk finds nothing. Letters already mapped are left
// as they are.
void AddFloppiesWithoutFiles(const std::vector<DiskMapping>& disks, DriveMap* drives);

// The drive a root lies on, for its boot check: a root shown with a mapped drive letter
// ("C:", "C:\DOS"); nullopt for any other root. A drive of `images` other than a BIOS
// floppy brings its volume's own boot sector. `drives` and `images` must outlive the lookup.
BootTargetLookup BootTargetsOf(const DriveMap& drives, const ImageDrives* images = nullptr);

// The icon of the boot check's header line for a root on `drive` (nullptr: no drive).
ResultIcon DriveIcon(const Drive* drive);

}  // namespace quarn
