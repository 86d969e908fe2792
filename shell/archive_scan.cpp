// SPDX-License-Identifier: Apache-2.0
#include "shell/archive_scan.h"

#include <algorithm>
#include <array>

#include "containers/entry_spool.h"
#include "platform/path_names.h"

namespace quarn {
namespace {

// A DOS name's extension is at most this long: a "_" after one as long is no lost character.
constexpr size_t kDosExtensionLength = 3;

constexpr size_t kReadBlock = 64 * 1024;
// An entry's ratio is judged once it gave this much, and against at least one block of the
// archive: decoders read ahead, so a small entry may take no packed byte of its own.
constexpr uint64_t kRatioFloor = uint64_t{1} << 20;
constexpr uint64_t kPackedFloor = kReadBlock;

// One spooled entry as a folder that holds it alone, so that the walk's per-file steps (the
// filter, the containers inside, the detectors) take it as they take any file.
class EntryFolder : public Folder {
 public:
  EntryFolder(std::string name, const EntrySpool& spool, std::string path)
      : name_(std::move(name)), spool_(spool), path_(std::move(path)) {}

  Result<std::vector<FolderEntry>> List() override {
    return std::vector<FolderEntry>{{name_, EntryKind::kFile, 0}};
  }
  Result<std::unique_ptr<File>> OpenFile(const std::string& name, OpenMode mode) override {
    if (name != name_) return Refused("cannot open", name, ErrnoText(ENOENT));
    if (mode != OpenMode::kRead) return Refused("cannot open", name, kReadOnly);
    return spool_.Open();
  }
  Result<std::optional<FileInfo>> Examine(const std::string& name) override {
    if (name != name_) return std::optional<FileInfo>();
    FileInfo info;
    info.size = spool_.size();
    return std::optional<FileInfo>(info);
  }
  Result<std::unique_ptr<File>> CreateFile(const std::string& name, uint32_t) override {
    return Refused("cannot create", name, kReadOnly);
  }
  Result<std::unique_ptr<Folder>> OpenFolder(const std::string& name) override {
    return Refused("cannot open folder", name, ErrnoText(ENOENT));
  }
  Status CreateFolder(const std::string& name) override {
    return Refused("cannot create folder", name, kReadOnly);
  }
  Status Rename(const std::string& from, const std::string&, RenameMode) override {
    return Refused("cannot rename", from, kReadOnly);
  }
  Status Delete(const std::string& name) override {
    return Refused("cannot delete", name, kReadOnly);
  }
  const std::string& Path() const override { return path_; }
  uint64_t Mount() const override { return 0; }
  FolderIdentity Identity() const override { return {}; }
  Result<std::unique_ptr<Folder>> OpenParent() override {
    return Refused("cannot open the folder of", name_, kReadOnly);
  }

 private:
  static constexpr std::string_view kReadOnly = "an archive is read only";
  Status Refused(std::string_view action, const std::string& name, std::string_view cause) const {
    return Status::Error(PathMessage(action, JoinPath(path_, name), cause));
  }

  std::string name_;
  const EntrySpool& spool_;
  std::string path_;
};

std::string LastComponent(const std::string& path) {
  const size_t cut = path.find_last_of("\\/!");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Why an entry's data was not all read, and whether the rest of the archive goes too.
struct ReadOutcome {
  std::optional<IncompleteReason> stopped;
  bool archive_done = false;
};

ReadOutcome SpoolEntry(ScanSession& session, ArchiveReader& archive, const ArchivePlace& place,
                       EntrySpool& spool) {
  const ContainerLimits& limits = session.container_limits();
  ContainerBudget& budget = *place.budget;
  const uint64_t packed_start = archive.PackedBytesRead();
  if (std::optional<EntryInPlace> in_place = archive.FindInPlace()) {
    budget.unpacked += in_place->size;
    if (budget.unpacked > limits.max_scan_size) return {IncompleteReason::kSize, true};
    if (in_place->size > limits.max_file_size) return {IncompleteReason::kSize, false};
    spool.Refer(*in_place);
    return {};
  }
  std::array<uint8_t, kReadBlock> block;
  while (true) {
    if (std::chrono::steady_clock::now() > budget.deadline) {
      return {IncompleteReason::kTime, true};
    }
    if (session.stop_requested().load()) return {std::nullopt, true};
    const EntryRead read = archive.ReadData(block.data(), block.size());
    if (read.failure) return {read.failure, false};
    if (read.bytes == 0) return {};
    budget.unpacked += read.bytes;
    if (budget.unpacked > limits.max_scan_size) return {IncompleteReason::kSize, true};
    if (spool.size() + read.bytes > limits.max_file_size) return {IncompleteReason::kSize, false};
    const uint64_t unpacked = spool.size() + read.bytes;
    const uint64_t packed_now = archive.PackedBytesRead();
    const uint64_t packed =
        std::max(kPackedFloor, packed_now > packed_start ? packed_now - packed_start : 0);
    if (unpacked > kRatioFloor && unpacked / packed >= limits.max_ratio) {
      return {IncompleteReason::kRatio, false};
    }
    // No temporary file to hold the entry ($TMPDIR missing, full or closed to us): the
    // entry was never judged, whatever it holds; smaller entries may still fit in memory.
    if (!spool.Append(block.data(), read.bytes)) return {IncompleteReason::kResource, false};
  }
}

}  // namespace

std::string LoneStreamName(const std::string& container_name, ContainerKind kind,
                           const std::string& last_character) {
  if (kind == ContainerKind::kSzdd && container_name.size() > 1 && container_name.back() == '_') {
    std::string squeezed = container_name.substr(0, container_name.size() - 1);
    // Today's compressors keep the whole name and append the "_" ("TOOL.EXE_"), storing no
    // character: there is nothing to put back.
    const size_t dot = squeezed.rfind('.');
    if (dot != std::string::npos && squeezed.size() - dot > kDosExtensionLength) return squeezed;
    if (!last_character.empty()) return squeezed + last_character;
  }
  const size_t dot = container_name.rfind('.');
  std::string name = dot == std::string::npos ? container_name : container_name.substr(0, dot);
  return name.empty() ? "data" : name;
}

void ScanArchiveEntries(ScanSession& session, ArchiveReader& archive, const ArchivePlace& place) {
  const ContainerLimits& limits = session.container_limits();
  const std::string_view kind = ContainerKindName(place.kind);
  auto layers_to = [&](const std::string& inner) {
    std::vector<PathLayer> layers = place.way_in;
    layers.push_back(PathLayer{std::string(kind), inner});
    return layers;
  };
  auto report_archive = [&](IncompleteReason reason) {
    place.incomplete->Report(session, place.display_path, place.host_path, place.way_in, reason);
  };
  VolumePlace inside;
  inside.display_root = place.display_path;
  inside.host_path = place.host_path;
  inside.layers = layers_to("");
  inside.depth = place.depth;
  inside.incomplete = place.incomplete;
  inside.budget = place.budget;
  auto inner_of = [&](const ArchiveEntry& entry) {
    return entry.path.empty() ? LoneStreamName(place.name, place.kind, entry.last_name_character)
                              : entry.path;
  };
  // An entry no file of its name would be read for is not unpacked either: only counted.
  auto looked_at = [&](const ArchiveEntry& entry) {
    return IsLookedAt(session, LastComponent(inner_of(entry)));
  };
  archive.Want([&](const ArchiveEntry& entry) {
    return entry.regular && !entry.unreadable &&
           !(entry.size && *entry.size > limits.max_file_size) && looked_at(entry);
  });
  uint64_t files = 0;
  bool damaged = false;
  while (std::optional<ArchiveEntry> entry = archive.NextEntry()) {
    if (session.stop_requested().load()) return;
    if (!entry->regular) continue;
    if (++files > limits.max_entries) {
      report_archive(IncompleteReason::kEntries);
      return;
    }
    if (std::chrono::steady_clock::now() > place.budget->deadline) {
      report_archive(IncompleteReason::kTime);
      return;
    }
    const std::string inner = inner_of(*entry);
    const std::string display_path = place.display_path + "!" + inner;
    auto count = [&] {
      session.StepProgress();
      ++session.counters().total;
      session.ShowCounter(StatusPart::kTotal);
    };
    if (!looked_at(*entry)) {
      count();
      continue;
    }
    auto not_scanned = [&](IncompleteReason reason) {
      count();
      place.incomplete->Report(session, display_path, place.host_path, layers_to(inner), reason);
    };
    if (entry->unreadable) {
      not_scanned(*entry->unreadable);
      continue;
    }
    // An entry too large to scan is passed over; where that means decoding it all the same,
    // the rest of the archive is left too, and said so.
    auto pass_over = [&](IncompleteReason reason) {
      not_scanned(reason);
      if (archive.SkipsCheaply()) return false;
      report_archive(reason);
      return true;
    };
    if (entry->size && *entry->size > limits.max_file_size) {
      if (pass_over(IncompleteReason::kSize)) return;
      continue;
    }
    session.ui().SetStatusText(StatusPart::kPath, display_path);
    EntrySpool spool;
    const ReadOutcome outcome = SpoolEntry(session, archive, place, spool);
    if (outcome.stopped) {
      damaged = damaged || outcome.stopped == IncompleteReason::kDamaged;
      if (outcome.archive_done) {
        not_scanned(*outcome.stopped);
        return;
      }
      const bool too_large =
          outcome.stopped == IncompleteReason::kSize || outcome.stopped == IncompleteReason::kRatio;
      if (!too_large) {
        not_scanned(*outcome.stopped);
      } else if (pass_over(*outcome.stopped)) {
        return;
      }
      continue;
    }
    if (outcome.archive_done) return;
    const std::string leaf = LastComponent(inner);
    EntryFolder folder(leaf, spool, place.display_path);
    HandleFile(session, folder, leaf, display_path, place.host_path, &inside, inner);
  }
  // Damage met inside an entry's data was told with the entry.
  if (archive.Damaged() && !damaged) report_archive(IncompleteReason::kDamaged);
  if (const std::optional<IncompleteReason> unread = archive.LeftUnread()) report_archive(*unread);
}

}  // namespace quarn
