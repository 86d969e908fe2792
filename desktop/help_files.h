#pragma once

#include <string>
#include <string_view>

#include "platform/folder.h"

namespace quarn::window {

inline constexpr std::string_view kEncyclopediaFile = "ENCI.HTM";
inline constexpr std::string_view kHelpFile = "QUARNEXP.HTM";

// Where a file of the data directory is to be opened from: the data directory when it holds
// the file, else the bundled data directory (a data directory set up before the file
// shipped, or one that --data-dir names).
std::string DataFilePath(FileSystem& files, const std::string& data_directory,
                         const std::string& bundled_directory, std::string_view name);

}  // namespace quarn::window
