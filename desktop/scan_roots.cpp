#include "desktop/scan_roots.h"

#include "shell/drive_setup.h"

namespace quarn::window {
namespace {

ScanRoot RootOf(const DriveTree& tree, const QTreeWidgetItem* item) {
  ScanRoot root;
  root.display_path = tree.PathOf(item);
  if (std::optional<TreeFolder> folder = tree.FolderOf(item)) {
    root.host_path = std::move(folder->path);
    root.image_drive = folder->image_drive;
  }
  root.drive_icon =
      tree.InNetworkBranch(item) ? ResultIcon::kNetwork : DriveIcon(tree.DriveOf(item));
  return root;
}

void AddSharesBelow(const DriveTree& tree, const QTreeWidgetItem* item,
                    std::vector<ScanRoot>& roots) {
  if (DriveTree::KindOf(item) == TreeItemKind::kShare) {
    roots.push_back(RootOf(tree, item));
    return;
  }
  for (int i = 0; i < item->childCount(); ++i) AddSharesBelow(tree, item->child(i), roots);
}

}  // namespace

std::vector<ScanRoot> ScanRootsOf(const DriveTree& tree, const QTreeWidgetItem* selected) {
  std::vector<ScanRoot> roots;
  const QTreeWidgetItem* computer = tree.computer_item();
  if (selected == nullptr) selected = computer;
  if (selected == nullptr) return roots;
  if (selected == computer) {
    for (int i = 0; i < computer->childCount(); ++i) {
      const QTreeWidgetItem* child = computer->child(i);
      if (child == tree.network_item()) {
        AddSharesBelow(tree, child, roots);
      } else {
        roots.push_back(RootOf(tree, child));
      }
    }
    return roots;
  }
  switch (DriveTree::KindOf(selected)) {
    case TreeItemKind::kNetwork:
    case TreeItemKind::kDomain:
    case TreeItemKind::kServer:
      AddSharesBelow(tree, selected, roots);
      break;
    default:
      roots.push_back(RootOf(tree, selected));
      break;
  }
  return roots;
}

}  // namespace quarn::window
