// SPDX-License-Identifier: Apache-2.0
#include "shell/folder_walk.h"

#include <algorithm>
#include <deque>

#include "containers/wrappers/unpack_meter.h"
#include "platform/path_names.h"
#include "res/message_table.h"
#include "shell/container_scan.h"
#include "shell/incomplete_report.h"
#include "shell/scan_file.h"
#include "shell/scanned_extension.h"

namespace quarn {
namespace {

// Folders a walk keeps open at once; deeper walks close the outer ones and, on the way back,
// open each again as the parent of the folder below it, so depth is limited by memory, not by
// open handles, and no path is ever followed again.
constexpr size_t kMaxOpenFolders = 32;
// "The folder changed during the scan and is not scanned further: " + path.
constexpr int kFolderChangedText = 441;

// How many files a DetectionPool batch holds, and how many batches a folder keeps started
// ahead of the walk: small batches, so that the pool's threads start on a folder's later files
// while the walk reports its first ones, and a few of them, so that they are still detecting
// while the walk lists a folder below or scans a container; and few enough files ahead that a
// stop is not kept waiting.
constexpr size_t kDetectionBatch = 16;
constexpr size_t kBatchesAhead = 8;

std::string JoinInner(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "\\" + name;
}

struct Level {
  std::unique_ptr<Folder> folder;  // null while closed
  FolderIdentity identity;         // what the folder was when listed
  std::vector<FolderEntry> entries;
  size_t next = 0;
  std::string display_path;
  std::string host_path;
  std::string inner_path;  // inside a volume: the folder's path in it, "" for its root
  // With a DetectionPool: the detections made ahead, by entry, for entries before
  // `detected_until`; the batches started after them, in order, up to `started_until`.
  std::vector<FileDetection> detections;
  size_t detected_until = 0;
  struct Started {
    std::unique_ptr<DetectionPool::Batch> batch;
    std::vector<size_t> entries;  // the entries its files are
    size_t until = 0;
  };
  std::deque<Started> started;
  size_t started_until = 0;
  // Where the search for the next folder the walk enters stands in this level's entries.
  size_t folder_cursor = 0;
};

// A folder listed, or nothing with the system's cause in `failure`.
std::optional<Level> OpenLevel(std::unique_ptr<Folder> folder, std::string display_path,
                               std::string host_path, std::string inner_path,
                               std::string& failure) {
  auto entries = folder->List();
  if (!entries) {
    failure = entries.cause();
    return std::nullopt;
  }
  std::sort(entries->begin(), entries->end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  Level level;
  level.identity = folder->Identity();
  level.folder = std::move(folder);
  level.entries = std::move(*entries);
  level.display_path = std::move(display_path);
  level.host_path = std::move(host_path);
  level.inner_path = std::move(inner_path);
  return level;
}

bool FilterAccepts(uint32_t file_filter, const std::string& name) {
  return file_filter == 1 || (file_filter == 0 && HasScannedExtension(name));
}

// Starts batches of the level's files the filter lets through, from `started_until` on, until
// `most` are started or no file is left; `shared`: for the pool's threads to take, else for
// the walk's own thread when it finishes them.
void StartDetections(ScanSession& session, DetectionPool& pool, Level& level, uint32_t file_filter,
                     size_t most = kBatchesAhead, bool shared = true) {
  if (level.detections.empty()) level.detections.resize(level.entries.size());
  while (level.started.size() < most && level.started_until < level.entries.size()) {
    DetectionRequest request;
    Level::Started started;
    size_t at = level.started_until;
    for (; at < level.entries.size() && request.names.size() < kDetectionBatch; ++at) {
      const FolderEntry& entry = level.entries[at];
      if (entry.kind == EntryKind::kFile && FilterAccepts(file_filter, entry.name)) {
        request.names.push_back(entry.name);
        started.entries.push_back(at);
      }
    }
    level.started_until = at;
    if (request.names.empty()) return;
    request.signatures = &session.signatures();
    request.folder = level.folder.get();
    request.heuristics_enabled = session.options().heuristics_enabled == 1;
    request.opener = ContainerCheckOf(session);
    request.imported = session.imported_scan();
    started.batch = pool.Start(std::move(request), shared);
    started.until = at;
    level.started.push_back(std::move(started));
  }
}

// Takes in the detections of the level's first batch started.
void CollectDetections(DetectionPool& pool, Level& level) {
  Level::Started& first = level.started.front();
  std::vector<FileDetection> found = pool.Finish(std::move(first.batch));
  for (size_t i = 0; i < found.size() && i < first.entries.size(); ++i) {
    level.detections[first.entries[i]] = std::move(found[i]);
  }
  level.detected_until = first.until;
  level.started.pop_front();
}

// Makes sure the detection of the level's entry `index`, a file the filter lets through, is
// in, and keeps the next batches started.
void DetectionOf(ScanSession& session, DetectionPool& pool, Level& level, size_t index,
                 uint32_t file_filter) {
  while (index >= level.detected_until) {
    // The batch wanted at once is the walk's own: a thread of the pool that took a file of
    // it would make the walk wait, and a small folder is over before a thread wakes. The
    // pool's threads take the batches after it, and those of the folders above.
    if (level.started.empty()) {
      level.detected_until = level.started_until = index;
      StartDetections(session, pool, level, file_filter, 1, /*shared=*/false);
      StartDetections(session, pool, level, file_filter);
    }
    CollectDetections(pool, level);
  }
  StartDetections(session, pool, level, file_filter);
}

// Lets go of the level's batches before its folder closes: their detections are kept for
// when the walk comes back, unless it stops, when what no thread took is left.
void FinishDetections(DetectionPool& pool, Level& level, bool stopping) {
  while (!level.started.empty()) {
    if (stopping) {
      pool.Finish(std::move(level.started.front().batch), /*abandon=*/true);
      level.started.pop_front();
    } else {
      CollectDetections(pool, level);
    }
  }
  if (stopping) level.started_until = level.detected_until;
}

// The folders the walk enters next, listed with their files' detections started before the
// walk gets to them, so that the pool's threads are not left idle at the end of each folder
// while the walk reports its files and enters the next. A few at most: each holds a folder
// open. A folder that cannot be opened or listed ahead is left for the walk to meet and
// report in its turn.
class FoldersAhead {
 public:
  FoldersAhead(DetectionPool& pool, uint64_t mount, uint32_t file_filter)
      : pool_(pool), mount_(mount), file_filter_(file_filter) {}

  // Once the top level's files are all started, lists more of the folders the walk enters
  // next, while few files are started ahead.
  void Extend(ScanSession& session, std::vector<Level>& levels) {
    const Level& top = levels.back();
    if (searched_out_ || top.started_until < top.entries.size()) return;
    while (ahead_.size() < kMaxFoldersAhead && FilesAhead() < kFilesAhead) {
      const auto next = NextFolder(levels);
      if (!next) {
        searched_out_ = true;
        return;
      }
      Level& holder = *next->holder;
      const std::string& name = holder.entries[next->index].name;
      auto sub = holder.folder->OpenFolder(name);
      // Taken before the listing: a change while it is made shows as a change after it.
      std::optional<FolderStamp> stamp = sub ? (*sub)->Stamp() : std::nullopt;
      std::string failure;
      std::optional<Level> listed;
      if (stamp) {
        listed = OpenLevel(std::move(*sub), JoinDisplay(holder.display_path, name, false),
                           JoinPath(holder.host_path, name), "", failure);
      }
      if (!listed) {
        searched_out_ = true;
        return;
      }
      ahead_.push_back(Ahead{next->depth, next->index, *stamp, std::move(*listed)});
      StartDetections(session, pool_, ahead_.back().level, file_filter_);
    }
  }

  // As the walk enters the folder of the entry `index` of its level at `depth`: the folder's
  // level, when it was listed ahead and its entries have not changed since (the walk may have
  // waited on a question meanwhile); one that changed is listed again, as are those after it,
  // whose places were found through it.
  std::optional<Level> Take(size_t depth, size_t index) {
    searched_out_ = false;
    if (ahead_.empty() || ahead_.front().depth != depth || ahead_.front().index != index) {
      return std::nullopt;
    }
    if (ahead_.front().level.folder->Stamp() != ahead_.front().stamp) {
      AbandonAll();
      return std::nullopt;
    }
    Level level = std::move(ahead_.front().level);
    ahead_.pop_front();
    return level;
  }

  // Before the walk's level at `depth` is left: a folder of it listed ahead was not entered
  // (the walk stopped, or the level's folder changed under it), and so neither will those
  // after it, whose places were found through it.
  void Leaving(size_t depth) {
    if (!ahead_.empty() && ahead_.front().depth >= depth) AbandonAll();
    searched_out_ = false;
  }

  void AbandonAll() {
    for (Ahead& ahead : ahead_) FinishDetections(pool_, ahead.level, /*stopping=*/true);
    ahead_.clear();
  }

 private:
  static constexpr size_t kMaxFoldersAhead = 4;
  static constexpr size_t kFilesAhead = kDetectionBatch * kBatchesAhead;

  struct Ahead {
    size_t depth;       // of the level that holds it, in the walk as it will be when it is entered
    size_t index;       // its entry there
    FolderStamp stamp;  // when it was listed
    Level level;
  };
  struct Place {
    Level* holder;
    size_t depth;
    size_t index;
  };

  size_t FilesAhead() const {
    size_t files = 0;
    for (const Ahead& ahead : ahead_) files += ahead.level.entries.size();
    return files;
  }

  // The folder the walk enters after the last one ahead (or next, with none ahead), if the
  // walk will enter it on its own mount from a level still open. The walk as it will be
  // then is its levels up to the last folder's holder, then that folder, searched from its
  // first entry; each level above from its entry after the folder below it.
  std::optional<Place> NextFolder(std::vector<Level>& levels) {
    std::vector<std::pair<Level*, size_t>> walk;
    for (Level& level : levels) walk.emplace_back(&level, level.next);
    for (Ahead& ahead : ahead_) {
      walk.resize(ahead.depth + 1);
      walk.back().second = ahead.index + 1;
      walk.emplace_back(&ahead.level, 0);
    }
    for (size_t depth = walk.size(); depth-- > 0;) {
      Level& level = *walk[depth].first;
      // A level's starting point only grows: its entries are searched once in all.
      size_t& at = level.folder_cursor;
      at = std::max(at, walk[depth].second);
      while (at < level.entries.size() && level.entries[at].kind != EntryKind::kFolder) ++at;
      if (at == level.entries.size()) continue;
      if (level.entries[at].mount != mount_ || level.folder == nullptr) return std::nullopt;
      return Place{&level, depth, at};
    }
    return std::nullopt;
  }

  DetectionPool& pool_;
  const uint64_t mount_;
  const uint32_t file_filter_;
  std::deque<Ahead> ahead_;
  // No folder to list ahead was found since the walk last entered or left one.
  bool searched_out_ = false;
};

// Before the walk leaves the top level for its parent: a closed parent is opened again from
// the top level's own handle and must be the folder that was listed; one that cannot be, or
// is another folder now (moved, or swapped for another), is not walked further, with a
// message. Its parents then cannot be reached either and go the same way in turn.
void ReopenParentOfTop(ScanSession& session, std::vector<Level>& levels) {
  if (levels.size() < 2) return;
  Level& top = levels.back();
  Level& parent = levels[levels.size() - 2];
  if (parent.folder != nullptr || parent.next == parent.entries.size()) return;
  if (top.folder != nullptr) {
    auto reopened = top.folder->OpenParent();
    if (reopened && (*reopened)->Identity() == parent.identity) {
      parent.folder = std::move(*reopened);
      return;
    }
  }
  parent.next = parent.entries.size();
  session.ui().ShowError(std::string(LoadText(session.language(), kFolderChangedText)) +
                         parent.display_path);
}

std::vector<PathLayer> LayersTo(const VolumePlace& place, const std::string& inner_path) {
  std::vector<PathLayer> layers = place.layers;
  layers.back().name = inner_path;
  return layers;
}

}  // namespace

std::string JoinDisplay(const std::string& folder, const std::string& name, bool inside) {
  const bool drive = inside || (folder.size() >= 2 && folder[1] == ':');
  const char separator = drive ? '\\' : '/';
  if (!folder.empty() && folder.back() == separator) return folder + name;
  return folder + separator + name;
}

void ReportVolumeDamage(ScanSession& session, const VolumePlace& place) {
  std::vector<ContainerDamage> damages = place.files->TakeDamage();
  if (place.meter != nullptr && place.meter->Stopped()) return;
  for (ContainerDamage& damage : damages) {
    if (place.changes != nullptr) place.changes->NoteDamage(place.volume);
    std::string path = damage.inner_path.empty()
                           ? place.display_root
                           : JoinDisplay(place.display_root, damage.inner_path, true);
    place.incomplete->Report(session, std::move(path), place.host_path,
                             LayersTo(place, damage.inner_path), damage.reason);
  }
}

// Asked so that the walk does not open every file twice: once for the detectors, once to
// look for a container.
const ContainerOpener* ContainerCheckOf(const ScanSession& session) {
  return session.container_limits().kinds == kNoContainers ? nullptr : session.container_opener();
}

bool PassesFileFilter(const ScanSession& session, const std::string& name) {
  return FilterAccepts(session.options().file_filter, name);
}

bool IsLookedAt(const ScanSession& session, const std::string& name) {
  return IsContainerCandidate(session, name) || FilterAccepts(session.options().file_filter, name);
}

void HandleFile(ScanSession& session, Folder& folder, const std::string& name,
                const std::string& display_path, const std::string& host_path,
                const VolumePlace* place, const std::string& inner_path, uint64_t slot,
                const FileDetection* detected) {
  session.StepProgress();
  ++session.counters().total;
  session.ShowCounter(StatusPart::kTotal);
  const bool as_program = FilterAccepts(session.options().file_filter, name);
  const bool candidate = IsContainerCandidate(session, name);
  FileDetection own;
  ContainerScan container = ContainerScan::kNone;
  // A host file the detectors will read anyway is detected first, so that a file that cannot
  // be a container is opened once, and one that cannot be opened is known before it counts.
  if (place == nullptr && as_program && detected == nullptr) {
    own =
        DetectFileIn(session.signatures(), folder, name, session.options().heuristics_enabled == 1,
                     candidate ? ContainerCheckOf(session) : nullptr, session.imported_scan());
    detected = &own;
  }
  if (place == nullptr && detected != nullptr && !detected->opened) {
    ReportUnreadable(session, display_path, host_path, detected->failure);
    return;
  }
  if (candidate) {
    if (detected == nullptr || detected->may_be_container) {
      std::string open_failure;
      container = ScanIfContainer(session, folder, name, display_path, host_path, place, inner_path,
                                  &open_failure);
      if (place == nullptr && !open_failure.empty()) {
        ReportUnreadable(session, display_path, host_path, open_failure);
        return;
      }
    }
    if (container == ContainerScan::kWhole) return;
  }
  if (!as_program) return;
  session.ui().SetStatusText(StatusPart::kPath, display_path);
  ++session.counters().scanned;
  session.ShowCounter(StatusPart::kScanned);
  if (container == ContainerScan::kBootRecordOnly) {
    // An image still, though no volume of it was read: a false verdict must not change it.
    ScanFileInContainer(
        session, folder, name, display_path, host_path,
        InnerFile{place != nullptr ? LayersTo(*place, inner_path) : std::vector<PathLayer>{},
                  nullptr, 0, EntryPlace{}, place != nullptr ? place->incomplete : nullptr},
        detected);
  } else if (place != nullptr) {
    // The working copy finds the entry by its place, which a byte copy keeps.
    ScanFileInContainer(
        session, folder, name, display_path, host_path,
        InnerFile{LayersTo(*place, inner_path), place->changes, place->volume,
                  EntryPlace{folder.Identity().inode, folder.Path(), slot}, place->incomplete},
        detected);
  } else if (detected != nullptr) {
    ScanFile(session, folder, name, display_path, host_path, *detected);
  } else {
    ScanFile(session, folder, name, display_path, host_path);
  }
}

void WalkFolders(ScanSession& session, std::unique_ptr<Folder> root,
                 const std::string& display_root, const std::string& host_root, DetectionPool* pool,
                 const VolumePlace* place) {
  const bool inside = place != nullptr;
  if (inside) pool = nullptr;
  const uint64_t mount = root->Mount();
  const uint32_t file_filter = session.options().file_filter;
  std::vector<Level> levels;
  std::optional<FoldersAhead> folders_ahead;
  if (pool != nullptr) folders_ahead.emplace(*pool, mount, file_filter);
  std::string failure;
  if (auto level = OpenLevel(std::move(root), display_root, host_root,
                             inside ? place->inner_root : "", failure)) {
    levels.push_back(std::move(*level));
  } else if (!inside) {
    ReportUnreadable(session, display_root, host_root, failure);
  }
  if (inside) ReportVolumeDamage(session, *place);
  if (!levels.empty()) session.ui().EnterFolder(display_root);
  while (!levels.empty()) {
    Level& level = levels.back();
    const bool stopped = session.stop_requested().load() ||
                         (inside && place->meter != nullptr && place->meter->Stopped());
    if (level.next == level.entries.size() || stopped) {
      if (pool != nullptr) FinishDetections(*pool, level, /*stopping=*/true);
      if (folders_ahead) folders_ahead->Leaving(levels.size() - 1);
      if (!stopped) ReopenParentOfTop(session, levels);
      levels.pop_back();
      session.ui().LeaveFolder();
      continue;
    }
    const size_t index = level.next++;
    const FolderEntry& entry = level.entries[index];
    // Inside a volume an entry is read through a view that holds it alone: where two entries
    // show one name, each is read as itself.
    std::unique_ptr<Folder> view = inside ? level.folder->ViewOfEntry(entry) : nullptr;
    Folder& holder = view ? *view : *level.folder;
    if (entry.kind == EntryKind::kFile) {
      if (pool != nullptr && FilterAccepts(file_filter, entry.name) &&
          index >= level.detected_until) {
        DetectionOf(session, *pool, level, index, file_filter);
      }
      if (folders_ahead) folders_ahead->Extend(session, levels);
      const std::string display_path = JoinDisplay(level.display_path, entry.name, inside);
      if (inside) {
        HandleFile(session, holder, entry.name, display_path, place->host_path, place,
                   JoinInner(level.inner_path, entry.name), entry.slot);
        ReportVolumeDamage(session, *place);
      } else {
        // Only the files the filter lets through were detected ahead; the others (a disk
        // image under --files exe) have no detection to hand on.
        const bool ahead = pool != nullptr && FilterAccepts(file_filter, entry.name);
        HandleFile(session, *level.folder, entry.name, display_path,
                   JoinPath(level.host_path, entry.name), nullptr, "", 0,
                   ahead ? &level.detections[index] : nullptr);
      }
    } else if (entry.kind == EntryKind::kFolder &&
               (entry.mount == mount || (session.crosses_mounts() && !inside))) {
      const std::string display_path = JoinDisplay(level.display_path, entry.name, inside);
      session.ui().SetStatusText(StatusPart::kPath, display_path);
      const std::string host_path = JoinPath(level.host_path, entry.name);
      std::optional<Level> opened;
      std::string failure;
      if (folders_ahead) opened = folders_ahead->Take(levels.size() - 1, index);
      if (!opened) {
        auto sub = holder.OpenFolder(entry.name);
        // Another file system mounted here: of data, or of the kernel's interfaces, whose
        // files may block a read or answer one with side effects, and which holds nothing to
        // scan anyway.
        if (sub && entry.mount != mount && (*sub)->OnInterfaceFileSystem()) continue;
        failure = sub.cause();
        if (sub) {
          opened = OpenLevel(std::move(*sub), display_path, host_path,
                             inside ? JoinInner(level.inner_path, entry.name) : "", failure);
        }
      }
      if (inside) ReportVolumeDamage(session, *place);
      if (!opened) {
        if (!inside) ReportUnreadable(session, display_path, host_path, failure);
        continue;
      }
      session.ui().EnterFolder(display_path);
      levels.push_back(std::move(*opened));
      if (levels.size() > kMaxOpenFolders) {
        Level& closing = levels[levels.size() - 1 - kMaxOpenFolders];
        if (pool != nullptr) FinishDetections(*pool, closing, /*stopping=*/false);
        closing.folder.reset();
      }
    }
  }
  if (folders_ahead) folders_ahead->AbandonAll();
}

}  // namespace quarn
