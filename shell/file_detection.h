#pragma once

#include <string>

#include "engine/database_image.h"
#include "engine/file_verdict.h"
#include "platform/folder.h"

namespace quarn {

// The detection stage of one file of a folder, as a scan runs it.
struct FileDetection {
  bool opened = false;  // false: the file could not be opened, and the scan skips it
  FileVerdict verdict;
};

// Opens `name`, which the folder listed as a regular file, for reading and runs DetectFile
// over it through a read cache.
// Safe to run for different files of one folder on several threads at once.
FileDetection DetectFileIn(const DatabaseImage& signatures, Folder& folder, const std::string& name,
                           bool heuristics_enabled);

}  // namespace quarn
