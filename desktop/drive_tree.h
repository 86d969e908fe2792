#pragma once

#include <QTreeWidget>
#include <optional>
#include <string>
#include <vector>

#include "desktop/monitor_link.h"
#include "desktop/network_shares.h"
#include "platform/drive_map.h"
#include "platform/folder.h"
#include "res/message_table.h"
#include "shell/image_drives.h"

namespace quarn::window {

// What an item of the drive tree stands for.
enum class TreeItemKind { kComputer, kDrive, kFolder, kNetwork, kDomain, kServer, kShare };

// Where the folder of a tree item is read: a host folder, or, on a drive made of a disk
// image, a folder inside the image's volume ("/" or "/DOS/UTIL", `image_drive` set).
struct TreeFolder {
  FileSystem* files = nullptr;
  std::string path;
  const ImageDrive* image_drive = nullptr;
};

// The drive tree: "RISORSE DEL COMPUTER" / "My Computer" with one item per drive, their
// folders as they are opened, and the NETWORK branch of the mounted network shares. It keeps
// the current item and its path, lists a folder's subfolders when it is selected, and follows
// a scan's walk. Paths are the program's own ("C:\DOS\UTIL", "\\SERVER\SHARE\DIR"); folder
// names are kept as their bytes, so a name that is not UTF-8 still leads to its folder. The
// folders of a drive made of a disk image are those of its volume; the files of images met
// in a walk never enter the tree.
class DriveTree : public QTreeWidget {
  Q_OBJECT

 public:
  // `drives`, `images` (may be null: no drive is made of an image), `files` and `monitor`
  // must outlive the tree.
  DriveTree(const DriveMap& drives, const ImageDrives* images, FileSystem& files,
            MonitorLink& monitor, QWidget* parent);

  // Builds the items anew: "My Computer", the drives in letter order with their type's
  // image, and, when `list_network` and there are shares, NETWORK with them.
  void Fill(Language language, bool list_network, const std::vector<NetworkShare>& shares);

  QTreeWidgetItem* computer_item() const { return computer_; }
  QTreeWidgetItem* network_item() const { return network_; }
  QTreeWidgetItem* current_tree_item() const { return current_item_; }
  const std::string& current_path() const { return current_path_; }
  // Makes `item` the current item without selecting it, as start-up does with "My Computer"
  // after an empty command line: the path status bar keeps its text.
  void SetCurrentWithoutSelecting(QTreeWidgetItem* item);

  static TreeItemKind KindOf(const QTreeWidgetItem* item);
  // The item's own text as bytes ("C:", "DOS", "\\SERVER\SHARE").
  static std::string NameOf(const QTreeWidgetItem* item);
  // The item's path: its name after those of its ancestors below "My Computer", joined by
  // backslashes; in the network branch only up to the server or share text that begins it.
  std::string PathOf(const QTreeWidgetItem* item) const;
  // The folder of a drive, a share or a folder below one; nullopt for the other items and
  // for a drive without files.
  std::optional<TreeFolder> FolderOf(const QTreeWidgetItem* item) const;
  // The drive behind a drive item or an item below one; nullptr otherwise.
  const Drive* DriveOf(const QTreeWidgetItem* item) const;
  bool IsDrive(const QTreeWidgetItem* item) const;
  bool InNetworkBranch(const QTreeWidgetItem* item) const;

  // Lists the subfolders of the item's folder as its children, sorted by the bytes of
  // their names as the walk takes them, leaving out folders of other file systems.
  void FillFolderItems(QTreeWidgetItem* item);

  // While a scan runs, listing a folder does not pause the resident monitor: the scan has.
  void SetScanRunning(bool running) { scan_running_ = running; }

  // The walk of a scan enters a folder (as shown) and leaves it: the tree selects the
  // folder's item, so its subfolders are listed and the path follows, and collapses it again
  // on the way out. A folder the tree does not show is passed by.
  void FollowEnter(const std::string& display_path);
  void FollowLeave();
  // Selects the item of a path, when the tree shows it.
  void SelectPath(const std::string& path);

 signals:
  // The current item changed; `path` is its path.
  void pathChanged(const QString& path);

 private:
  void OnCurrentItemChanged(QTreeWidgetItem* item);
  void OnDoubleClicked();
  void ListFoldersOnce(QTreeWidgetItem* item);
  QTreeWidgetItem* AddItem(QTreeWidgetItem* parent, const std::string& name, TreeItemKind kind,
                           int image);
  QTreeWidgetItem* FindItem(const std::string& path) const;

  const DriveMap& drives_;
  const ImageDrives* images_;
  FileSystem& files_;
  MonitorLink& monitor_;
  QTreeWidgetItem* computer_ = nullptr;
  QTreeWidgetItem* network_ = nullptr;
  QTreeWidgetItem* current_item_ = nullptr;
  std::string current_path_;
  bool scan_running_ = false;
  std::vector<std::string> followed_;  // the folders the walk is in, outermost first
};

}  // namespace quarn::window
