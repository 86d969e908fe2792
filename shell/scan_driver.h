#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/folder.h"
#include "shell/detection_pool.h"
#include "shell/image_drives.h"
#include "shell/scan_session.h"

namespace quarn {

// One root of a scan: a drive, a folder, or a single file.
struct ScanRoot {
  // The folder as shown ("C:", "C:\DOS", or a host path outside every drive) and on this
  // machine; for a single file, the folder that holds it.
  std::string display_path;
  std::string host_path;
  ResultIcon drive_icon = ResultIcon::kHardDisk;  // the icon of the boot check's header line
  // A single file to scan in `host_path` instead of a walk; it has no boot check. A
  // container is opened as the walk opens one.
  std::optional<std::string> single_file;
  // A root on a drive made of a disk image: `host_path` is then the folder's path inside
  // the volume ("/" or "/DOS"), and its files are reported with the image as their host
  // path and the image's layers. Owned by the run's ImageDrives.
  const ImageDrive* image_drive = nullptr;
  // A target that exists but cannot be read, with the system's cause: reported as such,
  // never walked and never "not found".
  std::optional<std::string> unreadable;
};

// The boot-area check of one root. Without one, a root shows the check's header line
// "[" + path + "]" and its closing blank line only, as a drive without sectors does.
using BootAreaCheck = std::function<void(ScanSession&, const ScanRoot&)>;

// A whole scan over `roots`, in order: the log's separator and start stamp, for each root
// its boot check, its walk and a blank line, then the total lines. Stops taking roots once
// the session's stop is requested; the totals are written in every case.
//
// With `detection_threads` above 1, the detection stage of a folder's files runs on that many
// threads ahead of the walk, while every line, count, question and action still comes from
// this thread in walk order: the output is the same as with one.
void RunScan(ScanSession& session, FileSystem& files, const std::vector<ScanRoot>& roots,
             const BootAreaCheck& boot_check = {}, int detection_threads = 1);

// Walks one root's folder and every folder below it on the same file system, entries in
// byte order of their names, without following links: counts every regular file, scans
// those the file filter lets through and steps the progress bar once per file found; a file
// the session's container opener recognises is scanned as a container instead, inside and
// out (container_scan.h). Reads the stop request at every entry. A folder that cannot be
// opened or listed is reported unreadable and skipped. With a pool, detections are made ahead in
// batches on its threads (see RunScan).
void WalkDirectory(ScanSession& session, FileSystem& files, const ScanRoot& root,
                   DetectionPool* pool = nullptr);

// "dd/mm/yy - hh:mm:ss" and CR LF CR LF: the start stamp of a scan in the log.
std::string ScanStamp(const std::tm& local_time);

// A counter as a total line shows it: the digits and a full stop ("12.").
std::string TotalNumber(uint32_t count);

}  // namespace quarn
