// SPDX-License-Identifier: Apache-2.0
#include "shell/folder_walk.h"

#include <algorithm>

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

// How many files a DetectionPool takes at once: enough to keep its threads busy, few enough
// that a stop is not kept waiting.
constexpr size_t kDetectionBatch = 64;

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
  // `detected_until`.
  std::vector<FileDetection> detections;
  size_t detected_until = 0;
  // The batch started last: the entries it detects, up to `started_until`. The pool works on
  // it while the walk reports the one before.
  std::vector<size_t> started;
  size_t started_until = 0;
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

// Starts detecting the next batch of the level's files the filter lets through, from entry
// `from` on; CollectDetections takes them in.
void StartDetections(ScanSession& session, DetectionPool& pool, Level& level, size_t from,
                     uint32_t file_filter) {
  if (level.detections.empty()) level.detections.resize(level.entries.size());
  DetectionRequest request;
  level.started.clear();
  size_t at = from;
  for (; at < level.entries.size() && request.names.size() < kDetectionBatch; ++at) {
    const FolderEntry& entry = level.entries[at];
    if (entry.kind == EntryKind::kFile && FilterAccepts(file_filter, entry.name)) {
      request.names.push_back(entry.name);
      level.started.push_back(at);
    }
  }
  level.started_until = at;
  if (request.names.empty()) return;
  request.signatures = &session.signatures();
  request.folder = level.folder.get();
  request.heuristics_enabled = session.options().heuristics_enabled == 1;
  request.opener = ContainerCheckOf(session);
  request.imported = session.imported_scan();
  pool.Start(std::move(request));
}

// Takes in the detections the pool made for the batch the level started last.
void CollectDetections(DetectionPool& pool, Level& level) {
  std::vector<FileDetection> found = pool.Finish();
  for (size_t i = 0; i < found.size() && i < level.started.size(); ++i) {
    level.detections[level.started[i]] = std::move(found[i]);
  }
  level.detected_until = level.started_until;
}

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
      if (pool != nullptr && pool->started()) CollectDetections(*pool, level);
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
        if (!pool->started()) StartDetections(session, *pool, level, index, file_filter);
        CollectDetections(*pool, level);
        // The pool detects the next batch while this one is reported.
        if (level.detected_until < level.entries.size()) {
          StartDetections(session, *pool, level, level.detected_until, file_filter);
        }
      }
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
      auto sub = holder.OpenFolder(entry.name);
      // Another file system mounted here: of data, or of the kernel's interfaces, whose
      // files may block a read or answer one with side effects, and which holds nothing to
      // scan anyway.
      if (sub && entry.mount != mount && (*sub)->OnInterfaceFileSystem()) continue;
      const std::string host_path = JoinPath(level.host_path, entry.name);
      std::optional<Level> opened;
      std::string failure = sub.cause();
      if (sub) {
        opened = OpenLevel(std::move(*sub), display_path, host_path,
                           inside ? JoinInner(level.inner_path, entry.name) : "", failure);
      }
      if (inside) ReportVolumeDamage(session, *place);
      if (!opened) {
        if (!inside) ReportUnreadable(session, display_path, host_path, failure);
        continue;
      }
      session.ui().EnterFolder(display_path);
      // The batch started belongs to the folder left for the one below.
      if (pool != nullptr && pool->started()) CollectDetections(*pool, level);
      levels.push_back(std::move(*opened));
      if (levels.size() > kMaxOpenFolders)
        levels[levels.size() - 1 - kMaxOpenFolders].folder.reset();
    }
  }
}

}  // namespace quarn
