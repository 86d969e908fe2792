#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "containers/container.h"
#include "engine/result_line.h"
#include "platform/folder.h"
#include "shell/detection_pool.h"
#include "shell/file_detection.h"
#include "shell/image_changes.h"
#include "shell/incomplete_report.h"
#include "shell/scan_session.h"

namespace quarn {

// What one top-level file's containers may still cost, all layers together.
struct ContainerBudget {
  uint64_t unpacked = 0;  // bytes archives gave so far
  std::chrono::steady_clock::time_point deadline;
  uint64_t held_ahead = 0;     // bytes of entries its archives may hold read ahead (ArchiveAhead)
  uint64_t spilled_ahead = 0;  // and hold in temporary files
};

// Where a walk is when it walks a volume inside a container rather than a host folder.
struct VolumePlace {
  ContainerFileSystem* files = nullptr;  // drained of its damage after each listing and file
  std::string display_root;              // the volume as shown: "C:\DISKS\HD.IMG!C:"
  std::string host_path;                 // the outermost host file
  // The way in down to this volume, outermost first; the last layer is the volume's own,
  // named by the path of each file inside it in turn.
  std::vector<PathLayer> layers;
  // Where the walk starts inside the volume, "\" between folders ("DOS\UTIL"), "" for its
  // root.
  std::string inner_root;
  int depth = 1;                          // containers entered to reach it
  IncompleteLines* incomplete = nullptr;  // the top-level file's
  // The image whose working copy takes the actions on the volume's files, and the volume's
  // index among the image's; null when the files are read only.
  ImageChanges* changes = nullptr;
  size_t volume = 0;
  ContainerBudget* budget = nullptr;  // the top-level file's; null for a drive made of an image
  // The meter of the wrapper the volume is read through, when it decompresses: once a limit
  // stops its reads, the walk stops too, and what the volume says of the reads it refused is
  // no damage.
  const UnpackMeter* meter = nullptr;
};

// Walks `root` and every folder below it on the same mount (on the host with
// ScanSession::crosses_mounts, on every mount but those of kernel interfaces), entries in byte
// order of their names, without following links, reading the stop request at every entry; every
// regular file goes to HandleFile. A host folder that cannot be opened or listed is reported
// unreadable (ReportUnreadable) and skipped; inside a volume the volume says why. On the host
// (`place` null) a pool detects the files of a folder ahead in batches; inside a volume every
// file is detected on this thread, and display paths take "\" whatever the host's are.
void WalkFolders(ScanSession& session, std::unique_ptr<Folder> root,
                 const std::string& display_root, const std::string& host_root, DetectionPool* pool,
                 const VolumePlace* place);

// One regular file `name` in `folder`, shown as `display_path`: counted in the total and
// stepped on the progress bar; scanned as a container when it is one (ScanIfContainer),
// else given to the detectors when the file filter lets it through; an image by its boot
// record alone is both, read only. A host file that cannot be opened is reported unreadable
// and never counted as scanned. `host_path` is the
// file's own (a host file) or the outermost host file (`place` set, with `inner_path` its
// path inside the volume and `slot` the entry's FolderEntry::slot, 0 for a file the user
// named). `detected`: the detection a pool made ahead, or null.
void HandleFile(ScanSession& session, Folder& folder, const std::string& name,
                const std::string& display_path, const std::string& host_path,
                const VolumePlace* place, const std::string& inner_path, uint64_t slot = 0,
                const FileDetection* detected = nullptr);

// Whether the file filter gives a file of this name to the detectors.
bool PassesFileFilter(const ScanSession& session, const std::string& name);

// The opener a detection made ahead of HandleFile asks whether its file may be a container:
// null when the scan opens none.
const ContainerOpener* ContainerCheckOf(const ScanSession& session);

// Whether HandleFile reads a file of this name at all: it may be a container, or the file
// filter lets it through to the detectors. Either way it is counted.
bool IsLookedAt(const ScanSession& session, const std::string& name);

// A folder's display path and a name in it: with "\" under a drive letter and everywhere
// inside a container (`inside`), else with "/".
std::string JoinDisplay(const std::string& folder, const std::string& name, bool inside);

// Reports what the volume's reader met since it was last asked, as not scanned.
void ReportVolumeDamage(ScanSession& session, const VolumePlace& place);

}  // namespace quarn
