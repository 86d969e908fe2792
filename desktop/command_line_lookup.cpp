#include "desktop/command_line_lookup.h"

namespace quarn::window {

std::vector<std::string> SplitCommandLinePath(std::string_view path) {
  std::vector<std::string> components;
  while (!path.empty()) {
    const size_t slash = path.find('\\');
    components.emplace_back(path.substr(0, slash));
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return components;
}

bool LookUpCommandLinePath(DriveTree& tree, std::string_view path) {
  QTreeWidgetItem* current = tree.computer_item();
  if (current == nullptr) return false;
  tree.expandItem(current);
  for (const std::string& component : SplitCommandLinePath(path)) {
    const QString wanted =
        QString::fromUtf8(component.data(), static_cast<qsizetype>(component.size())).toUpper();
    QTreeWidgetItem* item = tree.itemBelow(current);
    for (; item != nullptr; item = tree.itemBelow(item)) {
      tree.setCurrentItem(item);
      if (item->text(0).toUpper() == wanted) break;
    }
    if (item == nullptr) return false;
    tree.expandItem(item);
    tree.scrollToItem(item);
    current = item;
  }
  return true;
}

}  // namespace quarn::window
