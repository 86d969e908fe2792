#include "shell/scan_driver.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/path_names.h"
#include "res/string_table.h"
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

constexpr std::string_view kSeparator = "--------------------------------------------------------";
constexpr int kInfectedTotal = 31;
constexpr int kSuspiciousTotal = 32;
constexpr int kScannedTotal = 33;
constexpr int kTotalTotal = 34;
constexpr int kCleanedTotal = 35;
constexpr int kDeletedTotal = 36;
constexpr int kRenamedTotal = 37;

// Paths under a drive letter are shown with backslashes, host paths with slashes.
std::string JoinDisplay(const std::string& folder, const std::string& name) {
  const bool drive = folder.size() >= 2 && folder[1] == ':';
  const char separator = drive ? '\\' : '/';
  if (!folder.empty() && folder.back() == separator) return folder + name;
  return folder + separator + name;
}

// How many files a DetectionPool takes at once: enough to keep its threads busy, few enough
// that a stop is not kept waiting.
constexpr size_t kDetectionBatch = 64;

struct Level {
  std::unique_ptr<Folder> folder;  // null while closed
  FolderIdentity identity;         // what the folder was when listed
  std::vector<FolderEntry> entries;
  size_t next = 0;
  std::string display_path;
  std::string host_path;
  // With a DetectionPool: the detections made ahead, by entry, for entries before
  // `detected_until`.
  std::vector<FileDetection> detections;
  size_t detected_until = 0;
};

std::optional<Level> OpenLevel(std::unique_ptr<Folder> folder, std::string display_path,
                               std::string host_path) {
  auto entries = folder->List();
  if (!entries) return std::nullopt;
  std::sort(entries->begin(), entries->end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  Level level;
  level.identity = folder->Identity();
  level.folder = std::move(folder);
  level.entries = std::move(*entries);
  level.display_path = std::move(display_path);
  level.host_path = std::move(host_path);
  return level;
}

bool FilterAccepts(uint32_t file_filter, const std::string& name) {
  return file_filter == 1 || (file_filter == 0 && HasScannedExtension(name));
}

void CountFile(ScanSession& session) {
  session.StepProgress();
  ++session.counters().total;
  session.ShowCounter(StatusPart::kTotal);
}

void ScanOne(ScanSession& session, Folder& folder, const std::string& name,
             const std::string& display_folder, const std::string& host_folder,
             const FileDetection* detected = nullptr) {
  const std::string display_path = JoinDisplay(display_folder, name);
  session.ui().SetStatusText(StatusPart::kPath, display_path);
  ++session.counters().scanned;
  session.ShowCounter(StatusPart::kScanned);
  if (detected != nullptr) {
    ScanFile(session, folder, name, display_path, JoinPath(host_folder, name), *detected);
  } else {
    ScanFile(session, folder, name, display_path, JoinPath(host_folder, name));
  }
}

// Detects the next batch of the level's files the filter lets through, from entry `from` on.
void DetectAhead(ScanSession& session, DetectionPool& pool, Level& level, size_t from,
                 uint32_t file_filter) {
  if (level.detections.empty()) level.detections.resize(level.entries.size());
  std::vector<std::string> names;
  std::vector<size_t> indices;
  size_t at = from;
  for (; at < level.entries.size() && names.size() < kDetectionBatch; ++at) {
    const FolderEntry& entry = level.entries[at];
    if (entry.kind == EntryKind::kFile && FilterAccepts(file_filter, entry.name)) {
      names.push_back(entry.name);
      indices.push_back(at);
    }
  }
  level.detected_until = at;
  std::vector<FileDetection> found = pool.DetectAll(session.signatures(), *level.folder, names,
                                                    session.options().heuristics_enabled == 1);
  for (size_t i = 0; i < indices.size(); ++i) level.detections[indices[i]] = found[i];
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
  session.ui().ShowMessage(
      kErrorCaption,
      std::string(LoadText(session.language(), kFolderChangedText)) + parent.display_path);
}

void DefaultBootCheck(ScanSession& session, const ScanRoot& root) {
  session.AddTextLine(root.drive_icon, "[" + root.display_path + "]");
  session.AddTextLine(ResultIcon::kBlank, " ");
}

void AddTotalLine(ScanSession& session, int text_id, uint32_t count) {
  session.AddTextLine(ResultIcon::kBlank,
                      std::string(LoadText(session.language(), text_id)) + TotalNumber(count));
}

void AddTotals(ScanSession& session) {
  const ScanCounters& counters = session.counters();
  AddTotalLine(session, kInfectedTotal, counters.infected);
  AddTotalLine(session, kSuspiciousTotal, counters.suspicious);
  AddTotalLine(session, kScannedTotal, counters.scanned);
  AddTotalLine(session, kTotalTotal, counters.total);
  switch (session.options().scan_action) {
    case kActionCleanAuto:
    case kActionCleanAsk:
      AddTotalLine(session, kCleanedTotal, counters.cleaned);
      break;
    case kActionDeleteAuto:
    case kActionDeleteAsk:
      AddTotalLine(session, kDeletedTotal, counters.deleted);
      break;
    case kActionRenameAuto:
    case kActionRenameAsk:
      AddTotalLine(session, kRenamedTotal, counters.renamed);
      break;
    default:
      break;
  }
  session.AddTextLine(ResultIcon::kBlank, " ");
}

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

}  // namespace

std::string ScanStamp(const std::tm& t) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d/%02d/%02d - %02d:%02d:%02d\r\n\r\n", t.tm_mday % 100,
                (t.tm_mon + 1) % 100, t.tm_year % 100, t.tm_hour % 100, t.tm_min % 100,
                t.tm_sec % 100);
  return stamp;
}

std::string TotalNumber(uint32_t count) {
  return std::to_string(count) + ".";
}

void WalkDirectory(ScanSession& session, FileSystem& files, const ScanRoot& root,
                   DetectionPool* pool) {
  auto root_folder = files.OpenFolder(root.host_path);
  if (!root_folder) return;
  const uint64_t mount = (*root_folder)->Mount();
  const uint32_t file_filter = session.options().file_filter;
  std::vector<Level> levels;
  if (auto level = OpenLevel(std::move(*root_folder), root.display_path, root.host_path)) {
    levels.push_back(std::move(*level));
  }
  if (!levels.empty()) session.ui().EnterFolder(root.display_path);
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next == level.entries.size() || session.stop_requested().load()) {
      if (!session.stop_requested().load()) ReopenParentOfTop(session, levels);
      levels.pop_back();
      session.ui().LeaveFolder();
      continue;
    }
    const size_t index = level.next++;
    const FolderEntry& entry = level.entries[index];
    if (entry.kind == EntryKind::kFile) {
      CountFile(session);
      if (FilterAccepts(file_filter, entry.name)) {
        if (pool != nullptr && index >= level.detected_until) {
          DetectAhead(session, *pool, level, index, file_filter);
        }
        ScanOne(session, *level.folder, entry.name, level.display_path, level.host_path,
                pool != nullptr ? &level.detections[index] : nullptr);
      }
    } else if (entry.kind == EntryKind::kFolder && entry.mount == mount) {
      const std::string display_path = JoinDisplay(level.display_path, entry.name);
      session.ui().SetStatusText(StatusPart::kPath, display_path);
      auto sub = level.folder->OpenFolder(entry.name);
      if (!sub) continue;
      auto opened = OpenLevel(std::move(*sub), display_path, JoinPath(level.host_path, entry.name));
      if (!opened) continue;
      session.ui().EnterFolder(display_path);
      levels.push_back(std::move(*opened));
      if (levels.size() > kMaxOpenFolders)
        levels[levels.size() - 1 - kMaxOpenFolders].folder.reset();
    }
  }
}

void RunScan(ScanSession& session, FileSystem& files, const std::vector<ScanRoot>& roots,
             const BootAreaCheck& boot_check, int detection_threads) {
  UserInterface& ui = session.ui();
  std::optional<DetectionPool> pool;
  if (detection_threads > 1) pool.emplace(detection_threads);
  ui.SetProgress(0);
  session.log().AppendLine(kSeparator);
  session.log().Append(ScanStamp(LocalNow()));
  session.Reset();
  ui.ScanStarted();
  for (const ScanRoot& root : roots) {
    if (root.single_file) {
      auto folder = files.OpenFolder(root.host_path);
      if (folder) {
        CountFile(session);
        ScanOne(session, **folder, *root.single_file, root.display_path, root.host_path);
      }
    } else {
      if (boot_check) {
        boot_check(session, root);
      } else {
        DefaultBootCheck(session, root);
      }
      WalkDirectory(session, files, root, pool ? &*pool : nullptr);
    }
    const bool stop = session.stop_requested().load();
    session.AddTextLine(ResultIcon::kBlank, " ");
    if (stop) break;
  }
  AddTotals(session);
  ui.ScanFinished(session.counters());
  ui.SetProgress(0);
}

}  // namespace quarn
