#include "containers/fat/fat_folder.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <unordered_set>

#include "containers/fat/fat_directory_editor.h"
#include "containers/fat/fat_entry_layout.h"
#include "containers/fat/fat_file.h"
#include "containers/fat/fat_file_editor.h"
#include "containers/fat/fat_names.h"
#include "containers/fat/fat_table.h"
#include "platform/byte_reader.h"
#include "platform/path_names.h"

namespace quarn {
namespace {

constexpr std::string_view kReadOnlyCause = "the disk image is read only";
constexpr std::string_view kUnsupportedCause = "not supported inside a disk image";

// DOS and Windows compare names without regard to case: "dos" names DOS too.
bool SameName(const std::string& stored, const std::string& name) {
  return std::equal(stored.begin(), stored.end(), name.begin(), name.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

std::string Folded(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

// Whether the entries leave it to chance which of them a name opens: two that answer to one
// name (either of an entry's names, in any case, as SameName compares them), or a name that
// shows what no name may hold.
bool NamesDamaged(const std::vector<DirectoryRecord>& records) {
  std::unordered_set<std::string> seen;
  for (const DirectoryRecord& record : records) {
    if (record.name_damaged) return true;
    std::string name = Folded(record.name);
    std::string short_name = Folded(record.short_name);
    if (seen.count(name) != 0 || seen.count(short_name) != 0) return true;
    seen.insert(std::move(name));
    seen.insert(std::move(short_name));
  }
  return false;
}

}  // namespace

FatFolder::FatFolder(std::shared_ptr<FatVolume> volume, FatFolderPlace place,
                     std::optional<uint64_t> only_slot)
    : volume_(std::move(volume)), place_(std::move(place)), only_slot_(only_slot) {}

uint32_t FatFolder::FolderKey(uint32_t cluster) const {
  const FatGeometry& geometry = volume_->geometry();
  if (geometry.kind == ContainerKind::kFat32 && cluster == geometry.root_cluster) return 0;
  return cluster;
}

bool FatFolder::HoldsItself(const DirectoryRecord& record) const {
  const uint32_t key = FolderKey(record.first_cluster);
  return std::find(place_.clusters.begin(), place_.clusters.end(), key) != place_.clusters.end();
}

std::string FatFolder::InnerPath(const std::string& name) const {
  std::string path = (name.empty() ? place_.path : JoinPath(place_.path, name)).substr(1);
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

const std::vector<DirectoryRecord>& FatFolder::Records() {
  if (records_) return *records_;
  const auto [first, fixed_root] = Start();
  DirectoryListing listing = ReadDirectory(*volume_, first, fixed_root);
  if (listing.damaged || NamesDamaged(listing.records)) volume_->ReportDamage(InnerPath(""));
  records_.emplace();
  for (DirectoryRecord& record : listing.records) {
    if (only_slot_ && record.entry_offset != *only_slot_) continue;
    if (record.IsFolder() &&
        (HoldsItself(record) || !volume_->ClaimFolder(record.first_cluster, record.entry_offset))) {
      volume_->ReportDamage(InnerPath(record.name));
      continue;
    }
    records_->push_back(std::move(record));
  }
  Reindex();
  return *records_;
}

void FatFolder::Reindex() {
  files_by_name_.clear();
  folders_by_name_.clear();
  by_slot_.clear();
  for (size_t i = 0; i < records_->size(); ++i) {
    const DirectoryRecord& record = (*records_)[i];
    by_slot_.emplace(record.entry_offset, i);
    // Two entries may show the same name (damage); the first one is what the name opens, and
    // the walk reaches the others through ViewOfEntry.
    (record.IsFolder() ? folders_by_name_ : files_by_name_).emplace(record.name, i);
  }
}

void FatFolder::Refresh(DirectoryRecord& record) {
  if (!volume_->device().Writable()) return;
  const std::vector<uint8_t> entry =
      ReadExactly(volume_->device(), record.entry_offset, fat_entry::kSlotBytes);
  if (entry.empty()) return;
  record.attributes = entry[fat_entry::kAttributesOffset];
  record.first_cluster = static_cast<uint32_t>(ReadU16(entry, fat_entry::kClusterHighOffset))
                             << 16 |
                         ReadU16(entry, fat_entry::kClusterLowOffset);
  record.size = ReadU32(entry, fat_entry::kSizeOffset);
  record.write_time = ReadU16(entry, fat_entry::kWriteTimeOffset);
  record.write_date = ReadU16(entry, fat_entry::kWriteDateOffset);
}

DirectoryRecord* FatFolder::Find(const std::string& name, bool folder) {
  DirectoryRecord* found = Lookup(name, folder);
  if (found != nullptr) Refresh(*found);
  return found;
}

DirectoryRecord* FatFolder::Lookup(const std::string& name, bool folder) {
  Records();
  std::vector<DirectoryRecord>& records = *records_;
  for (const auto* by_name : folder ? std::array{&folders_by_name_, &files_by_name_}
                                    : std::array{&files_by_name_, &folders_by_name_}) {
    if (auto at = by_name->find(name); at != by_name->end()) return &records[at->second];
  }
  // The short name of an entry with a long name opens it too, as on DOS; then either name
  // in another case, an entry of the kind asked for first. A walk opens what it listed and
  // is served above: these passes are for names a user typed.
  for (DirectoryRecord& record : records) {
    if (record.short_name == name) return &record;
  }
  DirectoryRecord* other_kind = nullptr;
  for (DirectoryRecord& record : records) {
    if (!SameName(record.name, name) && !SameName(record.short_name, name)) continue;
    if (record.IsFolder() == folder) return &record;
    if (other_kind == nullptr) other_kind = &record;
  }
  return other_kind;
}

std::pair<uint32_t, bool> FatFolder::Start() const {
  const FatGeometry& geometry = volume_->geometry();
  const uint32_t key = place_.clusters.back();
  const bool fixed_root = key == 0 && geometry.kind != ContainerKind::kFat32;
  return {key == 0 && !fixed_root ? geometry.root_cluster : key, fixed_root};
}

std::optional<std::string> FatFolder::ChangeRefusal(std::string_view action,
                                                    const std::string& name,
                                                    const DirectoryRecord* record) const {
  const std::string path = JoinPath(place_.path, name);
  if (std::optional<std::string> refused = volume_->WriteRefusal()) {
    return PathMessage(action, path, *refused);
  }
  if (record == nullptr) return PathMessage(action, path, ErrnoText(ENOENT));
  return std::nullopt;
}

Result<std::vector<FolderEntry>> FatFolder::List() {
  std::lock_guard lock(mutex_);
  std::vector<FolderEntry> entries;
  for (const DirectoryRecord& record : Records()) {
    entries.push_back({record.name, record.IsFolder() ? EntryKind::kFolder : EntryKind::kFile,
                       volume_->device_id(), record.entry_offset});
  }
  return entries;
}

Result<std::unique_ptr<File>> FatFolder::OpenFile(const std::string& name, OpenMode mode) {
  constexpr std::string_view kAction = "cannot open";
  const std::string path = JoinPath(place_.path, name);
  if (mode != OpenMode::kRead) {
    if (std::optional<std::string> refused = volume_->WriteRefusal()) {
      return Status::Error(PathMessage(kAction, path, *refused));
    }
  }
  if (mode == OpenMode::kAppend) {
    return Status::Error(
        PathMessage(kAction, path, "appending is not supported inside a disk image"));
  }
  std::lock_guard lock(mutex_);
  DirectoryRecord* record = Find(name, false);
  if (record == nullptr) return Status::Error(PathMessage(kAction, path, ErrnoText(ENOENT)));
  if (record->IsFolder()) return Status::Error(PathMessage(kAction, path, "it is a folder"));
  const bool writable = mode == OpenMode::kReadWrite;
  if (writable) {
    std::lock_guard change(volume_->change_mutex());
    if (std::optional<std::string> refused = ChangeRefusal(kAction, name, record)) {
      return Status::Error(*refused);
    }
    std::optional<FatTable> table = FatTable::Load(*volume_);
    if (!table) return Status::Error(PathMessage(kAction, path, "the FAT cannot be read"));
    DirectoryRecord checked = *record;
    if (std::optional<std::string> refused = FatFileEditor(*volume_, *table, checked).Refusal()) {
      return Status::Error(PathMessage(kAction, path, *refused));
    }
  }
  return std::unique_ptr<File>(new FatFile(volume_, *record, InnerPath(name), writable));
}

Result<std::optional<FileInfo>> FatFolder::Examine(const std::string& name) {
  std::lock_guard lock(mutex_);
  const DirectoryRecord* record = Find(name, false);
  if (record == nullptr) return std::optional<FileInfo>();
  return std::optional<FileInfo>(InfoOfRecord(*volume_, *record));
}

Result<std::unique_ptr<File>> FatFolder::CreateFile(const std::string& name, uint32_t) {
  return ReadOnly("cannot create", name);
}

Result<std::unique_ptr<Folder>> FatFolder::OpenFolder(const std::string& name) {
  constexpr std::string_view kAction = "cannot open folder";
  std::lock_guard lock(mutex_);
  const DirectoryRecord* record = Find(name, true);
  const std::string path = JoinPath(place_.path, name);
  if (record == nullptr) return Status::Error(PathMessage(kAction, path, ErrnoText(ENOENT)));
  if (!record->IsFolder()) return Status::Error(PathMessage(kAction, path, ErrnoText(ENOTDIR)));
  FatFolderPlace place{place_.clusters, path};
  place.clusters.push_back(FolderKey(record->first_cluster));
  return std::unique_ptr<Folder>(new FatFolder(volume_, std::move(place)));
}

std::unique_ptr<Folder> FatFolder::ViewOfEntry(const FolderEntry& entry) {
  std::lock_guard lock(mutex_);
  Records();
  auto view = std::make_unique<FatFolder>(volume_, place_, entry.slot);
  // The listing's own record, checked already: a view per entry reads no folder again.
  view->records_.emplace();
  if (auto at = by_slot_.find(entry.slot); at != by_slot_.end()) {
    view->records_->push_back((*records_)[at->second]);
  }
  view->Reindex();
  return view;
}

Status FatFolder::CreateFolder(const std::string& name) {
  return ReadOnly("cannot create folder", name);
}

Status FatFolder::Rename(const std::string& from, const std::string& to, RenameMode mode) {
  constexpr std::string_view kAction = "cannot rename";
  const std::string path = JoinPath(place_.path, from);
  std::lock_guard lock(mutex_);
  std::lock_guard change(volume_->change_mutex());
  DirectoryRecord* record = Find(from, false);
  if (std::optional<std::string> refused = ChangeRefusal(kAction, from, record)) {
    return Status::Error(*refused);
  }
  if (mode != RenameMode::kNoReplace) {
    return Status::Error(
        PathMessage(kAction, path, "replacing a name inside a disk image is not supported"));
  }
  if (record->IsFolder()) {
    return Status::Error(
        PathMessage(kAction, path, "renaming a folder inside a disk image is not supported"));
  }
  if (std::optional<std::string> fault = LongNameFault(to)) {
    return Status::Error(PathMessage(kAction, path, *fault + ": " + to));
  }
  const auto [first, fixed_root] = Start();
  // The folder's every entry, whatever this folder holds: a new name must take none of theirs.
  const std::vector<DirectoryRecord> entries = ReadDirectory(*volume_, first, fixed_root).records;
  auto taken = [&](const std::string& candidate) {
    for (const DirectoryRecord& other : entries) {
      if (other.entry_offset != record->entry_offset &&
          (SameName(other.name, candidate) || SameName(other.short_name, candidate))) {
        return true;
      }
    }
    return false;
  };
  if (taken(to)) return Status::Error(PathMessage(kAction, path, to + " exists already"));
  std::optional<StoredName> stored = StoreName(to, taken);
  if (!stored) return Status::Error(PathMessage(kAction, path, "no short name is free for " + to));
  std::optional<FatTable> table = FatTable::Load(*volume_);
  if (!table) return Status::Error(PathMessage(kAction, path, "the FAT cannot be read"));
  // A cross-linked file keeps its name too: nothing of it is changed.
  DirectoryRecord checked = *record;
  if (std::optional<std::string> refused = FatFileEditor(*volume_, *table, checked).Refusal()) {
    return Status::Error(PathMessage(kAction, path, *refused));
  }
  Result<uint64_t> moved =
      FatDirectoryEditor(*volume_, *table, first, fixed_root).Rename(*record, *stored);
  // The listing is read again from the device next time: the entries may have moved.
  records_.reset();
  if (!moved.ok()) return Status::Error(PathMessage(kAction, path, moved.message()));
  return Status::Ok();
}

Status FatFolder::Delete(const std::string& name) {
  constexpr std::string_view kAction = "cannot delete";
  const std::string path = JoinPath(place_.path, name);
  std::lock_guard lock(mutex_);
  std::lock_guard change(volume_->change_mutex());
  DirectoryRecord* record = Find(name, false);
  if (std::optional<std::string> refused = ChangeRefusal(kAction, name, record)) {
    return Status::Error(*refused);
  }
  std::optional<FatTable> table = FatTable::Load(*volume_);
  if (!table) return Status::Error(PathMessage(kAction, path, "the FAT cannot be read"));
  FatFileEditor editor(*volume_, *table, *record);
  if (std::optional<std::string> refused = editor.Refusal()) {
    return Status::Error(PathMessage(kAction, path, *refused));
  }
  const auto [first, fixed_root] = Start();
  // Zeroed while still the file's, then unnamed, then freed: cut short, the volume holds
  // a file of zeros or lost clusters of zeros, never a virus body in free space.
  Status done = editor.ZeroAll();
  if (done.ok())
    done = FatDirectoryEditor(*volume_, *table, first, fixed_root).MarkDeleted(*record);
  if (done.ok()) done = editor.FreeAll();
  records_.reset();
  if (!done.ok()) return Status::Error(PathMessage(kAction, path, done.message()));
  return Status::Ok();
}

FolderIdentity FatFolder::Identity() const {
  return {volume_->device_id(), place_.clusters.back()};
}

Result<std::unique_ptr<Folder>> FatFolder::OpenParent() {
  FatFolderPlace parent = place_;
  if (parent.clusters.size() > 1) {
    parent.clusters.pop_back();
    parent.path = ParentPath(parent.path);
  }
  return std::unique_ptr<Folder>(new FatFolder(volume_, std::move(parent)));
}

Status FatFolder::ReadOnly(std::string_view action, const std::string& name) const {
  return Status::Error(
      PathMessage(action, JoinPath(place_.path, name),
                  volume_->device().Writable() ? kUnsupportedCause : kReadOnlyCause));
}

}  // namespace quarn
