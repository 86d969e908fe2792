#include "containers/fat_folder.h"

#include <algorithm>
#include <cctype>

#include <algorithm>
#include <array>

#include "containers/fat_file.h"
#include "platform/path_names.h"

namespace quarn {
namespace {

constexpr std::string_view kReadOnlyCause = "the disk image is read only";

}  // namespace

FatFolder::FatFolder(std::shared_ptr<FatVolume> volume, FatFolderPlace place)
    : volume_(std::move(volume)), place_(std::move(place)) {}

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
  const FatGeometry& geometry = volume_->geometry();
  const uint32_t key = place_.clusters.back();
  const bool fixed_root = key == 0 && geometry.kind != ContainerKind::kFat32;
  const uint32_t first = key == 0 && !fixed_root ? geometry.root_cluster : key;
  DirectoryListing listing = ReadDirectory(*volume_, first, fixed_root);
  if (listing.damaged) volume_->ReportDamage(InnerPath(""));
  records_.emplace();
  for (DirectoryRecord& record : listing.records) {
    if (record.IsFolder() &&
        (HoldsItself(record) || !volume_->ClaimFolder(record.first_cluster, record.entry_offset))) {
      volume_->ReportDamage(InnerPath(record.name));
      continue;
    }
    // Two entries may show the same name; the first one is what the name opens.
    (record.IsFolder() ? folders_by_name_ : files_by_name_).emplace(record.name, records_->size());
    records_->push_back(std::move(record));
  }
  return *records_;
}

const DirectoryRecord* FatFolder::Find(const std::string& name, bool folder) {
  const std::vector<DirectoryRecord>& records = Records();
  for (const auto* by_name : folder ? std::array{&folders_by_name_, &files_by_name_}
                                    : std::array{&files_by_name_, &folders_by_name_}) {
    auto found = by_name->find(name);
    if (found != by_name->end()) return &records[found->second];
  }
  // The short name of an entry with a long name opens it too, as on DOS.
  for (const DirectoryRecord& record : records) {
    if (record.short_name == name) return &record;
  }
  // DOS and Windows compare names without regard to case: "dos" names DOS too.
  auto same = [&](const std::string& stored) {
    return std::equal(stored.begin(), stored.end(), name.begin(), name.end(), [](char a, char b) {
      return std::tolower(static_cast<unsigned char>(a)) ==
             std::tolower(static_cast<unsigned char>(b));
    });
  };
  for (const DirectoryRecord& record : records) {
    if (record.IsFolder() == folder && (same(record.name) || same(record.short_name)))
      return &record;
  }
  for (const DirectoryRecord& record : records) {
    if (same(record.name) || same(record.short_name)) return &record;
  }
  return nullptr;
}

Result<std::vector<FolderEntry>> FatFolder::List() {
  std::lock_guard lock(mutex_);
  std::vector<FolderEntry> entries;
  for (const DirectoryRecord& record : Records()) {
    entries.push_back({record.name, record.IsFolder() ? EntryKind::kFolder : EntryKind::kFile,
                       volume_->device_id()});
  }
  return entries;
}

Result<std::unique_ptr<File>> FatFolder::OpenFile(const std::string& name, OpenMode mode) {
  constexpr std::string_view kAction = "cannot open";
  if (mode != OpenMode::kRead) return ReadOnly(kAction, name);
  std::lock_guard lock(mutex_);
  const DirectoryRecord* record = Find(name, false);
  const std::string path = JoinPath(place_.path, name);
  if (record == nullptr) return Status::Error(PathMessage(kAction, path, ErrnoText(ENOENT)));
  if (record->IsFolder()) return Status::Error(PathMessage(kAction, path, "it is a folder"));
  return std::unique_ptr<File>(new FatFile(volume_, *record, InnerPath(name)));
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

Status FatFolder::CreateFolder(const std::string& name) {
  return ReadOnly("cannot create folder", name);
}

Status FatFolder::Rename(const std::string& from, const std::string&, RenameMode) {
  return ReadOnly("cannot rename", from);
}

Status FatFolder::Delete(const std::string& name) {
  return ReadOnly("cannot delete", name);
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
  return Status::Error(PathMessage(action, JoinPath(place_.path, name), kReadOnlyCause));
}

}  // namespace quarn
