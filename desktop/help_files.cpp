#include "desktop/help_files.h"

#include "platform/path_names.h"

namespace quarn::window {

std::string DataFilePath(FileSystem& files, const std::string& data_directory,
                         const std::string& bundled_directory, std::string_view name) {
  auto folder = files.OpenFolder(data_directory);
  if (folder && (*folder)->OpenFile(std::string(name), OpenMode::kRead)) {
    return JoinPath(data_directory, name);
  }
  return JoinPath(bundled_directory, name);
}

}  // namespace quarn::window
