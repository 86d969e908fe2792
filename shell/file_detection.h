#pragma once

#include <string>

#include "containers/container.h"
#include "engine/database_image.h"
#include "engine/file_verdict.h"
#include "platform/folder.h"

namespace quarn {

// The detection stage of one file of a folder, as a scan runs it.
struct FileDetection {
  bool opened = false;  // false: the file could not be opened, and the scan skips it
  std::string failure;  // why it could not be opened, as the system says it
  FileVerdict verdict;
  // False when the opener asked about the file's first bytes said it is no container, so
  // the scan need not open it again to find out.
  bool may_be_container = true;
};

// Opens `name`, which the folder listed as a regular file, for reading and runs DetectFile
// over it through a read cache, `imported` signatures included; with `opener`, also asks it
// whether the file may be a container, from the bytes the cache holds already.
// Safe to run for different files of one folder on several threads at once.
FileDetection DetectFileIn(const DatabaseImage& signatures, Folder& folder, const std::string& name,
                           bool heuristics_enabled, const ContainerOpener* opener = nullptr,
                           ImportedScan imported = {});

}  // namespace quarn
