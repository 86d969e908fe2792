#include "desktop/drive_tree.h"

#include <QSignalBlocker>
#include <algorithm>

#include "platform/path_names.h"
#include "res/pictures/pictures.h"

namespace quarn::window {
namespace {

constexpr int kKindRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;
constexpr int kMountPointRole = Qt::UserRole + 2;

// Indices of the tree pictures.
constexpr int kComputerImage = 0;
constexpr int kHardDiskImage = 1;
constexpr int kOpenFolderImage = 2;
constexpr int kClosedFolderImage = 3;
constexpr int kFloppyImage = 4;
constexpr int kCdRomImage = 5;
constexpr int kNetworkDriveImage = 6;
constexpr int kGlobeImage = 7;
constexpr int kDomainImage = 8;
constexpr int kServerImage = 9;

constexpr char kNetworkText[] = "NETWORK";
constexpr int kComputerText = 6;

int DriveImage(DriveType type) {
  switch (type) {
    case DriveType::kRemovable:
      return kFloppyImage;
    case DriveType::kFixed:
      return kHardDiskImage;
    case DriveType::kCdRom:
      return kCdRomImage;
    case DriveType::kRemote:
    case DriveType::kRamDisk:
      return kNetworkDriveImage;
  }
  return kNetworkDriveImage;
}

QByteArray Bytes(const std::string& text) {
  return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// A server or share text ("\\SERVER", "\\SERVER\SHARE") begins a network path.
bool BeginsNetworkPath(const std::string& name) {
  return (!name.empty() && name[0] == '\\') || (name.size() > 1 && name[1] == '\\');
}

std::vector<std::string> SplitAtBackslashes(std::string_view path) {
  std::vector<std::string> parts;
  while (true) {
    const size_t slash = path.find('\\');
    parts.emplace_back(path.substr(0, slash));
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return parts;
}

QTreeWidgetItem* ChildNamed(QTreeWidgetItem* parent, const std::string& name) {
  for (int i = 0; i < parent->childCount(); ++i) {
    if (DriveTree::NameOf(parent->child(i)) == name) return parent->child(i);
  }
  return nullptr;
}

void DeleteChildren(QTreeWidgetItem* item) {
  const QList<QTreeWidgetItem*> children = item->takeChildren();
  qDeleteAll(children);
}

}  // namespace

DriveTree::DriveTree(const DriveMap& drives, const ImageDrives* images, FileSystem& files,
                     MonitorLink& monitor, QWidget* parent)
    : QTreeWidget(parent), drives_(drives), images_(images), files_(files), monitor_(monitor) {
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(true);
  setIconSize(QSize(16, 16));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setExpandsOnDoubleClick(false);
  connect(this, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item) { OnCurrentItemChanged(item); });
  connect(this, &QTreeWidget::itemDoubleClicked, this, [this] { OnDoubleClicked(); });
}

void DriveTree::Fill(Language language, bool list_network,
                     const std::vector<NetworkShare>& shares) {
  {
    const QSignalBlocker quiet(this);
    clear();
  }
  current_item_ = nullptr;
  current_path_.clear();
  followed_.clear();
  network_ = nullptr;
  computer_ = AddItem(nullptr, std::string(LoadText(language, kComputerText)),
                      TreeItemKind::kComputer, kComputerImage);
  for (const Drive& drive : drives_.drives()) {
    AddItem(computer_, std::string{drive.letter, ':'}, TreeItemKind::kDrive,
            DriveImage(drive.type));
  }
  if (!list_network || shares.empty()) return;
  network_ = AddItem(computer_, kNetworkText, TreeItemKind::kNetwork, kGlobeImage);
  for (const NetworkShare& share : shares) {
    QTreeWidgetItem* parent = network_;
    if (!share.domain.empty()) {
      QTreeWidgetItem* domain = ChildNamed(network_, share.domain);
      parent =
          domain ? domain : AddItem(network_, share.domain, TreeItemKind::kDomain, kDomainImage);
    }
    QTreeWidgetItem* server = ChildNamed(parent, share.ServerText());
    if (server == nullptr)
      server = AddItem(parent, share.ServerText(), TreeItemKind::kServer, kServerImage);
    QTreeWidgetItem* item =
        AddItem(server, share.ShareText(), TreeItemKind::kShare, kNetworkDriveImage);
    item->setData(0, kMountPointRole, Bytes(share.mount_point));
  }
}

void DriveTree::SetCurrentWithoutSelecting(QTreeWidgetItem* item) {
  {
    const QSignalBlocker quiet(this);
    setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
  }
  current_item_ = item;
  current_path_ = PathOf(item);
}

TreeItemKind DriveTree::KindOf(const QTreeWidgetItem* item) {
  return static_cast<TreeItemKind>(item->data(0, kKindRole).toInt());
}

std::string DriveTree::NameOf(const QTreeWidgetItem* item) {
  return item->data(0, kNameRole).toByteArray().toStdString();
}

bool DriveTree::IsDrive(const QTreeWidgetItem* item) const {
  return item != nullptr && item->parent() == computer_ && KindOf(item) == TreeItemKind::kDrive;
}

bool DriveTree::InNetworkBranch(const QTreeWidgetItem* item) const {
  for (; item != nullptr && network_ != nullptr; item = item->parent()) {
    if (item == network_) return true;
  }
  return false;
}

std::string DriveTree::PathOf(const QTreeWidgetItem* item) const {
  const bool network = InNetworkBranch(item);
  std::vector<std::string> names;
  for (; item != nullptr && item != computer_; item = item->parent()) {
    names.push_back(NameOf(item));
    if (network && (item == network_ || BeginsNetworkPath(names.back()))) break;
  }
  std::string path;
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    if (!path.empty()) path += '\\';
    path += *name;
  }
  return path;
}

const Drive* DriveTree::DriveOf(const QTreeWidgetItem* item) const {
  for (; item != nullptr; item = item->parent()) {
    if (IsDrive(item)) return drives_.Find(NameOf(item)[0]);
  }
  return nullptr;
}

std::optional<TreeFolder> DriveTree::FolderOf(const QTreeWidgetItem* item) const {
  std::vector<std::string> below;
  TreeFolder folder{&files_, "", nullptr};
  for (; item != nullptr; item = item->parent()) {
    const TreeItemKind kind = KindOf(item);
    if (kind == TreeItemKind::kFolder) {
      below.push_back(NameOf(item));
      continue;
    }
    if (IsDrive(item)) {
      const Drive* drive = DriveOf(item);
      if (drive == nullptr) return std::nullopt;
      // An image's letter is in the map as a drive without host files.
      const ImageDrive* image = images_ != nullptr ? images_->Find(drive->letter) : nullptr;
      if (image != nullptr) {
        folder = TreeFolder{image->files, "/", image};
      } else if (drive->HasFiles()) {
        folder.path = drive->folder;
      } else {
        return std::nullopt;
      }
    } else if (kind == TreeItemKind::kShare) {
      folder.path = item->data(0, kMountPointRole).toByteArray().toStdString();
    } else {
      return std::nullopt;
    }
    for (auto name = below.rbegin(); name != below.rend(); ++name) {
      folder.path = JoinPath(folder.path, *name);
    }
    return folder;
  }
  return std::nullopt;
}

void DriveTree::FillFolderItems(QTreeWidgetItem* item) {
  // The volume's damage met here is left for the walk, which reports it.
  const std::optional<TreeFolder> place = FolderOf(item);
  if (!place) return;
  auto folder = place->files->OpenFolder(place->path);
  if (!folder) return;
  auto entries = (*folder)->List();
  if (!entries) return;
  const uint64_t mount = (*folder)->Mount();
  std::vector<std::string> names;
  for (const FolderEntry& entry : *entries) {
    if (entry.kind == EntryKind::kFolder && entry.mount == mount) names.push_back(entry.name);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    AddItem(item, name, TreeItemKind::kFolder, kClosedFolderImage);
  }
}

void DriveTree::ListFoldersOnce(QTreeWidgetItem* item) {
  if (!scan_running_) monitor_.Pause();
  if (item != computer_ && item->childCount() == 0) FillFolderItems(item);
  if (!scan_running_) monitor_.Resume();
}

void DriveTree::OnCurrentItemChanged(QTreeWidgetItem* item) {
  if (item == nullptr) return;
  const std::string path = PathOf(item);
  // Selecting a drive always reads its folders again.
  if (!InNetworkBranch(item) && IsDrive(item)) DeleteChildren(item);
  ListFoldersOnce(item);
  current_path_ = path;
  current_item_ = item;
  emit pathChanged(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())));
}

void DriveTree::OnDoubleClicked() {
  if (current_item_ == nullptr) return;
  if (IsDrive(current_item_)) DeleteChildren(current_item_);
  ListFoldersOnce(current_item_);
}

QTreeWidgetItem* DriveTree::AddItem(QTreeWidgetItem* parent, const std::string& name,
                                    TreeItemKind kind, int image) {
  auto* item = parent == nullptr ? new QTreeWidgetItem(this) : new QTreeWidgetItem(parent);
  item->setText(0, QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
  item->setData(0, kKindRole, static_cast<int>(kind));
  item->setData(0, kNameRole, Bytes(name));
  QIcon icon(pictures::TreeImage(image));
  if (kind == TreeItemKind::kFolder)
    icon.addPixmap(pictures::TreeImage(kOpenFolderImage), QIcon::Selected);
  item->setIcon(0, icon);
  return item;
}

QTreeWidgetItem* DriveTree::FindItem(const std::string& path) const {
  if (computer_ == nullptr || path.empty()) return nullptr;
  QTreeWidgetItem* item = nullptr;
  std::string_view rest = path;
  if (path.starts_with("\\\\")) {
    // A server's own path, or the share whose text begins the path and folders below it.
    std::vector<QTreeWidgetItem*> pending{network_};
    while (!pending.empty() && item == nullptr) {
      QTreeWidgetItem* candidate = pending.back();
      pending.pop_back();
      if (candidate == nullptr) continue;
      const std::string name = NameOf(candidate);
      const TreeItemKind kind = KindOf(candidate);
      if (kind == TreeItemKind::kServer && name == path) return candidate;
      if (kind == TreeItemKind::kShare && path.starts_with(name) &&
          (path.size() == name.size() || path[name.size()] == '\\')) {
        item = candidate;
        rest = rest.substr(std::min(path.size(), name.size() + 1));
      }
      for (int i = 0; i < candidate->childCount(); ++i) pending.push_back(candidate->child(i));
    }
    if (item == nullptr) return nullptr;
  } else {
    const size_t slash = rest.find('\\');
    item = ChildNamed(computer_, std::string(rest.substr(0, slash)));
    if (item == nullptr || slash == std::string_view::npos) return item;
    rest.remove_prefix(slash + 1);
  }
  for (const std::string& name : SplitAtBackslashes(rest)) {
    if (name.empty()) continue;
    item = ChildNamed(item, name);
    if (item == nullptr) return nullptr;
  }
  return item;
}

void DriveTree::SelectPath(const std::string& path) {
  if (QTreeWidgetItem* item = FindItem(path)) setCurrentItem(item);
}

void DriveTree::FollowEnter(const std::string& display_path) {
  followed_.push_back(display_path);
  QTreeWidgetItem* item = FindItem(display_path);
  if (item == nullptr) return;
  setCurrentItem(item);
  expandItem(item);
  scrollToItem(item);
}

void DriveTree::FollowLeave() {
  if (followed_.empty()) return;
  const std::string path = followed_.back();
  followed_.pop_back();
  if (followed_.empty()) return;  // a root stays open with its folders listed
  if (QTreeWidgetItem* item = FindItem(path)) collapseItem(item);
}

}  // namespace quarn::window
