#include "containers/wrappers/sibling_files.h"

namespace quarn {

bool IsPlainSiblingName(std::string_view name) {
  return !name.empty() && name != "." && name.find_first_of("/\\:") == std::string_view::npos &&
         name.find("..") == std::string_view::npos;
}

SiblingOpener SiblingsIn(Folder& folder, const FileInfo& wrapper, std::string wrapper_name) {
  auto open = [&folder, owner = wrapper.owner](const std::string& name) -> std::shared_ptr<File> {
    if (!IsPlainSiblingName(name)) return nullptr;
    // The folder's own open refuses a link and anything but a regular file.
    Result<std::unique_ptr<File>> file = folder.OpenFile(name, OpenMode::kRead);
    if (!file) return nullptr;
    // A second link could make a file of another folder look like one of this.
    const std::optional<FileInfo> info = (*file)->GetInfo();
    if (!info || info->link_count != 1 || info->owner != owner) return nullptr;
    return std::shared_ptr<File>(std::move(*file));
  };
  return SiblingOpener{std::move(open), std::move(wrapper_name)};
}

}  // namespace quarn
