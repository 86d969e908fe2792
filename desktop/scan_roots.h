#pragma once

#include <vector>

#include "shell/scan_driver.h"
#include "desktop/drive_tree.h"

namespace quarn::window {

// The roots of a scan of the tree's `selected` item: "My Computer" (or nothing selected)
// gives every drive in order and then the shares listed under NETWORK; NETWORK, a domain or
// a server gives the shares below it; any other item is the one root. A drive without files
// is a root with no host folder: its boot check runs and its walk finds nothing. A drive
// made of an image, or a folder on one, is a root inside the image's volume.
std::vector<ScanRoot> ScanRootsOf(const DriveTree& tree, const QTreeWidgetItem* selected);

}  // namespace quarn::window
