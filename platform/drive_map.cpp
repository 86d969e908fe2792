#include "platform/drive_map.h"

#include <algorithm>
#include <array>

#include "platform/path_names.h"

namespace quarn {
namespace {

constexpr std::array<std::pair<DriveType, std::string_view>, 5> kTypeNames = {{
    {DriveType::kFixed, "fixed"},
    {DriveType::kRemovable, "removable"},
    {DriveType::kCdRom, "cdrom"},
    {DriveType::kRemote, "remote"},
    {DriveType::kRamDisk, "ramdisk"},
}};

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsDriveLetter(char c) {
  char upper = UpperAscii(c);
  return upper >= 'A' && upper <= 'Z';
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return UpperAscii(x) == UpperAscii(y);
         });
}

std::string LetterText(char letter) {
  return std::string(1, UpperAscii(letter)) + ":";
}

// What follows `folder` in `path` when the folder holds the path, without the separating
// slash; nullopt when it does not. Only whole components match.
std::optional<std::string_view> RemainderUnder(std::string_view folder, std::string_view path) {
  if (folder.empty() || path.size() < folder.size()) return std::nullopt;
  if (path.compare(0, folder.size(), folder) != 0) return std::nullopt;
  std::string_view rest = path.substr(folder.size());
  if (folder.back() != '/' && !rest.empty() && rest.front() != '/') return std::nullopt;
  return rest;
}

// The non-empty components of a path written with '/' or '\' between them.
std::vector<std::string_view> SplitComponents(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> components;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(separators, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) components.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

// "A:", "c:\DOS" and "C:/dos" are drive targets; "c:name" is left to the host, where a colon
// is an ordinary character of a file name.
bool IsDriveTarget(std::string_view target) {
  if (target.size() < 2 || !IsDriveLetter(target[0]) || target[1] != ':') return false;
  return target.size() == 2 || target[2] == '\\' || target[2] == '/';
}

}  // namespace

std::string_view DriveTypeName(DriveType type) {
  for (const auto& [known, name] : kTypeNames) {
    if (known == type) return name;
  }
  return "fixed";
}

std::optional<DriveType> DriveTypeFromName(std::string_view name) {
  for (const auto& [type, known] : kTypeNames) {
    if (EqualIgnoringCase(name, known)) return type;
  }
  return std::nullopt;
}

Status DriveMap::Add(Drive drive) {
  if (!IsDriveLetter(drive.letter)) {
    return Status::Error("\"" + std::string(1, drive.letter) + "\" is not a drive letter (A to Z)");
  }
  drive.letter = UpperAscii(drive.letter);
  if (Find(drive.letter) != nullptr) {
    return Status::Error("drive " + LetterText(drive.letter) + " is mapped twice");
  }
  if (!drive.folder.empty()) drive.folder = TrimTrailingSlashes(std::move(drive.folder));
  auto place = std::find_if(drives_.begin(), drives_.end(),
                            [&](const Drive& other) { return other.letter > drive.letter; });
  drives_.insert(place, std::move(drive));
  return Status::Ok();
}

Status DriveMap::AddDriveWithoutFiles(char letter, DriveType type) {
  return Add(Drive{letter, "", type});
}

const Drive* DriveMap::Find(char letter) const {
  char upper = UpperAscii(letter);
  for (const Drive& drive : drives_) {
    if (drive.letter == upper) return &drive;
  }
  return nullptr;
}

const Drive* DriveMap::DriveOf(const std::string& host_path) const {
  const Drive* best = nullptr;
  for (const Drive& drive : drives_) {
    if (!RemainderUnder(drive.folder, host_path)) continue;
    if (best == nullptr || drive.folder.size() > best->folder.size()) best = &drive;
  }
  return best;
}

std::string DriveMap::DisplayPath(const std::string& host_path) const {
  const Drive* drive = DriveOf(host_path);
  if (drive == nullptr) return host_path;
  std::string shown = LetterText(drive->letter);
  for (std::string_view component :
       SplitComponents(*RemainderUnder(drive->folder, host_path), "/")) {
    shown += '\\';
    shown += component;
  }
  return shown;
}

Result<std::string> DriveMap::HostPathOf(const std::string& target) const {
  if (!IsDriveTarget(target)) return target;
  const Drive* drive = Find(target[0]);
  if (drive == nullptr) {
    return Status::Error(target + ": drive " + LetterText(target[0]) + " is not mapped");
  }
  if (!drive->HasFiles()) {
    return Status::Error(target + ": drive " + LetterText(drive->letter) + " has no files");
  }
  // Resolved as text: a ".." is judged against what the target says, not against where a
  // link on the host would lead, so a target can never name a folder outside its drive.
  std::vector<std::string_view> kept;
  for (std::string_view component : SplitComponents(std::string_view(target).substr(2), "\\/")) {
    if (component == ".") continue;
    if (component != "..") {
      kept.push_back(component);
    } else if (kept.empty()) {
      return Status::Error(target + ": \"..\" leads above drive " + LetterText(drive->letter));
    } else {
      kept.pop_back();
    }
  }
  std::string path = drive->folder;
  for (std::string_view component : kept) path = JoinPath(path, component);
  return path;
}

}  // namespace quarn
