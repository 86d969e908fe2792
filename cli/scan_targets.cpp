#include "cli/scan_targets.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_set>

#include "platform/link_chain.h"
#include "platform/path_names.h"

#include "platform/file_contents.h"

namespace quarn {
namespace {

bool IsRelativeHostTarget(const std::string& target) {
  return !target.empty() && target[0] != '/' && !IsDrivePath(target);
}

// A target that is there but cannot be read: a root the scan reports and does not walk.
ScanRoot UnreadableRoot(const std::string& host_path, const DriveMap& drives,
                        const std::string& cause) {
  ScanRoot root;
  root.display_path = drives.DisplayPath(host_path);
  root.host_path = host_path;
  root.unreadable = cause;
  return root;
}

bool ListsRegularFile(Folder& folder, const std::string& name) {
  Result<std::vector<FolderEntry>> entries = folder.List();
  if (!entries) return false;
  return std::any_of(entries->begin(), entries->end(), [&](const FolderEntry& entry) {
    return entry.name == name && entry.kind == EntryKind::kFile;
  });
}

// The root for a host path, or nothing when it names no folder and no regular file. A link
// in the path's last component is followed, to what it names: the user named it.
std::optional<ScanRoot> RootOf(const std::string& host_path, const DriveMap& drives,
                               FileSystem& files, int links_left = kMaxLinkChain) {
  ScanRoot root;
  Result<std::unique_ptr<Folder>> whole = files.OpenFolder(host_path);
  if (whole) {
    root.display_path = drives.DisplayPath(host_path);
    root.host_path = host_path;
    root.drive_icon = DriveIcon(drives.DriveOf(host_path));
    return root;
  }
  // Neither absent nor a file in the way: a folder, or a path through one, closed to us.
  if (!whole.status().absent()) return UnreadableRoot(host_path, drives, whole.cause());
  auto [folder_path, name] = SplitHostPath(host_path);
  auto folder = files.OpenFolder(folder_path);
  // OpenFile takes regular files only: a FIFO, a device or a link is not scanned.
  if (!folder || name.empty()) return std::nullopt;
  if (Result<std::unique_ptr<File>> file = (*folder)->OpenFile(name, OpenMode::kRead); !file) {
    Result<std::string> target = files.ReadLink(host_path);
    if (target && !target->empty() && links_left > 0) {
      return RootOf(AbsoluteHostPath(*target, folder_path), drives, files, links_left - 1);
    }
    if (!target && !file.status().absent() && ListsRegularFile(**folder, name)) {
      return UnreadableRoot(host_path, drives, file.cause());
    }
    return std::nullopt;
  }
  root.display_path = drives.DisplayPath(folder_path);
  root.host_path = folder_path;
  root.drive_icon = DriveIcon(drives.DriveOf(folder_path));
  root.single_file = name;
  return root;
}

// The folder of the last target that was a regular file, kept open for the next: a caller's
// batch of one folder's files opens it once and looks up each name in it, rather than
// following each whole path from the top twice. From the second file named in it on, the
// folder's listing answers for its files, as it does in a walk: one request to the system
// for the folder rather than several for each file. A folder of one named file is not
// listed: it may hold many more.
struct HeldFolder {
  std::string path;
  std::unique_ptr<Folder> folder;
  int files_named = 0;
  std::optional<std::unordered_set<std::string>> listed_files;
};

// Whether `name` in the held folder is a regular file this scan may open.
bool IsRegularFileIn(HeldFolder& held, const std::string& name) {
  if (++held.files_named == 2) {
    if (Result<std::vector<FolderEntry>> entries = held.folder->List()) {
      held.listed_files.emplace();
      for (const FolderEntry& entry : *entries) {
        if (entry.kind == EntryKind::kFile) held.listed_files->insert(entry.name);
      }
    }
  }
  // A name the listing does not give as a file (it came since, or is no file) is looked at
  // on its own.
  if (held.listed_files && held.listed_files->contains(name)) return true;
  // OpenFile takes regular files only and follows no link: what it opens, OpenFolder on the
  // whole path would have refused as not a folder.
  return static_cast<bool>(held.folder->OpenFile(name, OpenMode::kRead));
}

// The root for a host path that names a regular file, its folder opened or held; nothing
// for anything else (a folder, a link, an entry that cannot be opened, a folder that cannot
// be), which RootOf then works out and reports as ever.
std::optional<ScanRoot> RegularFileRoot(const std::string& host_path, const DriveMap& drives,
                                        FileSystem& files, HeldFolder& held) {
  auto [folder_path, name] = SplitHostPath(host_path);
  if (name.empty()) return std::nullopt;
  if (held.folder == nullptr || held.path != folder_path) {
    held = HeldFolder{};
    auto folder = files.OpenFolder(folder_path);
    if (!folder) return std::nullopt;
    held.folder = std::move(*folder);
    held.path = folder_path;
  }
  if (!IsRegularFileIn(held, name)) return std::nullopt;
  ScanRoot root;
  root.display_path = drives.DisplayPath(folder_path);
  root.host_path = folder_path;
  root.drive_icon = DriveIcon(drives.DriveOf(folder_path));
  root.single_file = name;
  return root;
}

// The root for a target on a drive made of an image: "A:", "A:\\DOS" or "a:/dos/keyb.com",
// worked out as a path under the drive's own root ("." dropped, ".." never above it).
std::optional<ScanRoot> ImageRootOf(const std::string& target, const ImageDrive& drive) {
  DriveMap volume;
  (void)volume.Add(Drive{drive.letter, "/", DriveType::kFixed});
  Result<std::string> inner = volume.HostPathOf(target);
  if (!inner) return std::nullopt;
  ScanRoot root;
  root.image_drive = &drive;
  auto shown = [&](const std::string& path) {
    const std::string within = InnerPathOf(path);
    return std::string(1, drive.letter) + ":" + (within.empty() ? "" : "\\" + within);
  };
  if (drive.files->OpenFolder(*inner)) {
    root.host_path = *inner;
    root.display_path = shown(*inner);
    return root;
  }
  auto [folder_path, name] = SplitHostPath(*inner);
  auto folder = drive.files->OpenFolder(folder_path);
  if (!folder || name.empty() || !(*folder)->OpenFile(name, OpenMode::kRead)) return std::nullopt;
  root.host_path = folder_path;
  root.display_path = shown(folder_path);
  root.single_file = name;
  return root;
}

}  // namespace

ResolvedTargets ResolveTargets(const std::vector<std::string>& targets, const DriveMap& drives,
                               FileSystem& files, const std::string& working_directory,
                               const ImageDrives* images) {
  ResolvedTargets resolved;
  HeldFolder held;
  for (const std::string& target : targets) {
    std::string host_path;
    // A working folder that cannot be named was removed: nothing can be found in it, and a
    // stand-in such as "/" would name something else.
    if (target.empty() || (working_directory.empty() && IsRelativeHostTarget(target))) {
      resolved.missing.push_back(target);
      continue;
    }
    if (IsDrivePath(target)) {
      if (const ImageDrive* image = images ? images->Find(target[0]) : nullptr) {
        if (std::optional<ScanRoot> root = ImageRootOf(target, *image)) {
          root->drive_icon = DriveIcon(drives.Find(target[0]));
          resolved.roots.push_back(std::move(*root));
        } else {
          resolved.missing.push_back(target);
        }
        continue;
      }
      const Drive* drive = drives.Find(target[0]);
      if (drive != nullptr && !drive->HasFiles() && target.size() <= 3) {
        ScanRoot root;
        root.display_path = std::string(1, drive->letter) + ":";
        root.drive_icon = DriveIcon(drive);
        resolved.roots.push_back(std::move(root));
        continue;
      }
      Result<std::string> mapped = drives.HostPathOf(target);
      if (!mapped) {
        resolved.missing.push_back(target);
        continue;
      }
      host_path = AbsoluteHostPath(*mapped, working_directory);
    } else {
      host_path = AbsoluteHostPath(target, working_directory);
    }
    if (std::optional<ScanRoot> root = RegularFileRoot(host_path, drives, files, held)) {
      resolved.roots.push_back(std::move(*root));
    } else if (std::optional<ScanRoot> root = RootOf(host_path, drives, files)) {
      resolved.roots.push_back(std::move(*root));
    } else {
      resolved.missing.push_back(target);
    }
  }
  return resolved;
}

}  // namespace quarn
