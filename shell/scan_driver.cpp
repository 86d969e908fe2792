#include "shell/scan_driver.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "clean/file_cleaner.h"
#include "platform/path_names.h"
#include "res/message_table.h"
#include "shell/folder_walk.h"
#include "shell/incomplete_report.h"

namespace quarn {
namespace {

constexpr std::string_view kSeparator = "--------------------------------------------------------";
constexpr int kInfectedTotal = 31;
constexpr int kSuspiciousTotal = 32;
constexpr int kScannedTotal = 33;
constexpr int kTotalTotal = 34;
constexpr int kCleanedTotal = 35;
constexpr int kDeletedTotal = 36;
constexpr int kRenamedTotal = 37;

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

namespace {

// A root on a drive made of a disk image: its folder walked, or its one file scanned, inside
// the image's volume, as files inside an image met in a walk are, but shown under the
// drive's letter.
void ScanImageDriveRoot(ScanSession& session, FileSystem& files, const ScanRoot& root) {
  const ImageDrive& drive = *root.image_drive;
  // The image's folder on the host, where its working copy is made; without it nothing on
  // the drive can change.
  const std::string image = AbsoluteHostPath(drive.image, WorkingFolderPath());
  auto image_folder = files.OpenFolder(ParentPath(image));
  std::optional<ImageChanges> changes;
  if (image_folder && !session.read_only() && drive.changeable) {
    const std::string name = BaseName(image);
    RemoveStaleCopies(session.stale_copies(), **image_folder, name, session.ui());
    changes.emplace(**image_folder, name);
  }
  IncompleteLines incomplete;
  VolumePlace place;
  place.files = drive.files;
  place.display_root = std::string(1, drive.letter) + ":";
  place.host_path = drive.image;
  place.layers = drive.layers;
  place.incomplete = &incomplete;
  place.inner_root = InnerPathOf(root.host_path);
  place.changes = changes ? &*changes : nullptr;
  place.volume = drive.volume_index;
  auto folder = drive.files->OpenFolder(root.host_path);
  if (folder) {
    if (root.single_file) {
      const std::string inner = place.inner_root.empty()
                                    ? *root.single_file
                                    : place.inner_root + "\\" + *root.single_file;
      HandleFile(session, **folder, *root.single_file,
                 JoinDisplay(root.display_path, *root.single_file, true), drive.image, &place,
                 inner);
      ReportVolumeDamage(session, place);
    } else {
      WalkFolders(session, std::move(*folder), root.display_path, root.host_path, nullptr, &place);
    }
  } else {
    ReportVolumeDamage(session, place);
  }
  // The walk leaves the image: before the next root, whose boot check may read its sectors.
  if (changes) changes->Finish(session);
  incomplete.Finish(session);
}

}  // namespace

void WalkDirectory(ScanSession& session, FileSystem& files, const ScanRoot& root,
                   DetectionPool* pool) {
  if (root.image_drive != nullptr) {
    ScanImageDriveRoot(session, files, root);
    return;
  }
  if (root.host_path.empty()) return;  // a drive without files
  auto root_folder = files.OpenFolder(root.host_path);
  if (!root_folder) {
    ReportUnreadable(session, root.display_path, root.host_path, root_folder.cause());
    return;
  }
  WalkFolders(session, std::move(*root_folder), root.display_path, root.host_path, pool, nullptr);
}

void RunScan(ScanSession& session, FileSystem& files, const std::vector<ScanRoot>& roots,
             const BootAreaCheck& boot_check, int detection_threads) {
  UserInterface& ui = session.ui();
  std::optional<DetectionPool> pool;
  if (detection_threads > 1) pool.emplace(detection_threads);
  session.set_detection_pool(pool ? &*pool : nullptr);
  ui.SetProgress(0);
  session.log().AppendLine(kSeparator);
  session.log().Append(ScanStamp(LocalNow()));
  session.Reset();
  // A drive made of an image may have been walked by an earlier scan of this program: this
  // one finds and reports its damage again. Once a scan, so that its roots share the claims
  // that find files crossing from one folder into another.
  std::vector<ContainerFileSystem*> started_over;
  for (const ScanRoot& root : roots) {
    if (root.image_drive == nullptr || std::find(started_over.begin(), started_over.end(),
                                                 root.image_drive->files) != started_over.end()) {
      continue;
    }
    root.image_drive->files->StartOver();
    started_over.push_back(root.image_drive->files);
  }
  ui.ScanStarted();
  // The folder of the last single file, kept for the next one in the same folder: a list of a
  // folder's files (a library caller's batch) opens it once.
  std::string held_path;
  std::unique_ptr<Folder> held_folder;
  for (const ScanRoot& root : roots) {
    if (root.unreadable) {
      ReportUnreadable(session, root.display_path, root.host_path, *root.unreadable);
    } else if (root.single_file && root.image_drive != nullptr) {
      WalkDirectory(session, files, root);
    } else if (root.single_file) {
      const std::string display_path = JoinDisplay(root.display_path, *root.single_file, false);
      const std::string host_path = JoinPath(root.host_path, *root.single_file);
      if (held_folder == nullptr || held_path != root.host_path) {
        held_folder.reset();
        auto folder = files.OpenFolder(root.host_path);
        if (folder) {
          held_folder = std::move(*folder);
          held_path = root.host_path;
        } else {
          ReportUnreadable(session, display_path, host_path, folder.cause());
        }
      }
      if (held_folder != nullptr) {
        HandleFile(session, *held_folder, *root.single_file, display_path, host_path, nullptr, "");
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
  FinishUnreadable(session);
  AddTotals(session);
  session.set_detection_pool(nullptr);
  ui.ScanFinished(session.counters());
  ui.SetProgress(0);
}

}  // namespace quarn
