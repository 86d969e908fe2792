#include "cli/scan_targets.h"

#include <optional>

#include "platform/file_contents.h"

namespace quarn {
namespace {

bool IsDriveTarget(const std::string& target) {
  const bool letter = !target.empty() && ((target[0] >= 'A' && target[0] <= 'Z') ||
                                          (target[0] >= 'a' && target[0] <= 'z'));
  return letter && target.size() >= 2 && target[1] == ':' &&
         (target.size() == 2 || target[2] == '\\' || target[2] == '/');
}

// The root for a host path, or nothing when it names no folder and no regular file.
std::optional<ScanRoot> RootOf(const std::string& host_path, const DriveMap& drives,
                               FileSystem& files) {
  ScanRoot root;
  if (files.OpenFolder(host_path)) {
    root.display_path = drives.DisplayPath(host_path);
    root.host_path = host_path;
    root.drive_icon = DriveIcon(drives.DriveOf(host_path));
    return root;
  }
  auto [folder_path, name] = SplitHostPath(host_path);
  auto folder = files.OpenFolder(folder_path);
  // OpenFile takes regular files only: a FIFO, a device or a link is not scanned.
  if (!folder || name.empty() || !(*folder)->OpenFile(name, OpenMode::kRead)) {
    return std::nullopt;
  }
  root.display_path = drives.DisplayPath(folder_path);
  root.host_path = folder_path;
  root.drive_icon = DriveIcon(drives.DriveOf(folder_path));
  root.single_file = name;
  return root;
}

}  // namespace

std::string AbsoluteHostPath(const std::string& path, const std::string& working_directory) {
  const std::string joined =
      !path.empty() && path[0] == '/' ? path : working_directory + "/" + path;
  std::vector<std::string> components;
  size_t at = 0;
  while (at <= joined.size()) {
    size_t slash = joined.find('/', at);
    if (slash == std::string::npos) slash = joined.size();
    const std::string component = joined.substr(at, slash - at);
    if (component == "..") {
      if (!components.empty()) components.pop_back();
    } else if (!component.empty() && component != ".") {
      components.push_back(component);
    }
    at = slash + 1;
  }
  if (components.empty()) return "/";
  std::string absolute;
  for (const std::string& component : components) absolute += "/" + component;
  return absolute;
}

ResolvedTargets ResolveTargets(const std::vector<std::string>& targets, const DriveMap& drives,
                               FileSystem& files, const std::string& working_directory) {
  ResolvedTargets resolved;
  for (const std::string& target : targets) {
    std::string host_path;
    if (target.empty()) {
      resolved.missing.push_back(target);
      continue;
    }
    if (IsDriveTarget(target)) {
      const Drive* drive = drives.Find(target[0]);
      if (drive != nullptr && !drive->HasFiles() && target.size() == 2) {
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
    if (std::optional<ScanRoot> root = RootOf(host_path, drives, files)) {
      resolved.roots.push_back(std::move(*root));
    } else {
      resolved.missing.push_back(target);
    }
  }
  return resolved;
}

}  // namespace quarn
