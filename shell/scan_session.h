#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "clean/stale_copies.h"
#include "containers/container.h"
#include "engine/database_image.h"
#include "engine/imported_detector.h"
#include "engine/result_line.h"
#include "engine/scan_log.h"
#include "engine/scan_options.h"
#include "engine/user_interface.h"
#include "res/message_table.h"
#include "shell/container_limits.h"

namespace quarn {

class DetectionPool;

// The slots of the result list; the log and the front ends get every line beyond them.
inline constexpr size_t kResultListSlots = 16384;

// Everything one scan keeps: the databases and options it runs with, the counters, the
// result list and the log. Every result line goes through AddLine, which stores it, logs
// it and only then shows it, so the list and the log always hold what was shown.
class ScanSession {
 public:
  ScanSession(const DatabaseImage& signatures, const DatabaseImage& names, ScanLog& log,
              UserInterface& ui, Language language, ScanOptions options);

  const DatabaseImage& signatures() const { return signatures_; }
  const DatabaseImage& names() const { return names_; }
  UserInterface& ui() { return ui_; }
  ScanLog& log() { return log_; }
  Language language() const { return language_; }
  const ScanOptions& options() const { return options_; }
  // The options change only between scans (the Options dialog is closed while one runs).
  void set_options(const ScanOptions& options) { options_ = options; }
  // What opens disk images and archives for the walk (not owned; null: none is opened) and
  // how far the walk goes into them. Set between scans only.
  void set_containers(ContainerOpener* opener, const ContainerLimits& limits) {
    container_opener_ = opener;
    container_limits_ = limits;
  }
  ContainerOpener* container_opener() const { return container_opener_; }
  // The signatures imported from QUARNX.DAT (not owned; null: none). Set between scans only.
  void set_imported(const ImportedDetector* imported) { imported_ = imported; }
  // What the detectors need to look for them: a file's bytes up to MaxFileSize.
  ImportedScan imported_scan() const { return {imported_, container_limits_.max_file_size}; }
  const ImportedDetector* imported() const { return imported_; }
  // The name a detection reports: from NAMEVIR.DAT, or for an imported signature's id from
  // QUARNX.DAT.
  std::string VirusName(uint32_t virus_id) const;
  // The images the run reads as drives, by device and inode: a walk that meets one leaves it
  // alone, so it is scanned once, as that drive. Set between scans only.
  void set_drive_images(std::vector<std::pair<uint64_t, uint64_t>> identities) {
    drive_images_ = std::move(identities);
  }
  bool IsDriveImage(uint64_t device, uint64_t inode) const {
    return std::find(drive_images_.begin(), drive_images_.end(), std::pair{device, inode}) !=
           drive_images_.end();
  }
  const ContainerLimits& container_limits() const { return container_limits_; }
  // The threads that detect ahead of the walk (not owned; null: none), which also read an
  // archive's entries ahead of its scan. Set by the scan that owns them, for as long as it runs.
  void set_detection_pool(DetectionPool* pool) { detection_pool_ = pool; }
  DetectionPool* detection_pool() const { return detection_pool_; }
  // A scan that changes nothing on disk: no working copy of an image is made and no stale
  // copy beside one removed (the action is the caller's to force). Set between scans only.
  void set_read_only(bool read_only) { read_only_ = read_only; }
  bool read_only() const { return read_only_; }
  // Whether a walk of host folders goes into the file systems mounted below its root (never
  // into one of kernel interfaces); otherwise it stays on the root's. Set between scans only.
  void set_crosses_mounts(bool crosses) { crosses_mounts_ = crosses; }
  bool crosses_mounts() const { return crosses_mounts_; }
  ScanCounters& counters() { return counters_; }
  const ScanCounters& counters() const { return counters_; }
  // How many "cannot be read" lines this scan showed and left out (see ReportUnreadable).
  struct UnreadableTally {
    uint32_t shown = 0;
    uint32_t left_out = 0;
  };
  UnreadableTally& unreadable_tally() { return unreadable_tally_; }
  // What the cleans of this scan found left behind by earlier ones, folder by folder.
  StaleCopies& stale_copies() { return stale_copies_; }

  // Moves the progress bar one step; past its end it starts again from the beginning.
  void StepProgress();

  // Set from any thread (the Stop command, Ctrl-C); the walk reads it at every entry.
  std::atomic<bool>& stop_requested() { return stop_requested_; }

  // Makes the line's text fit the list (see ResultLineText), stores it, appends it with
  // CR LF to the log and sends it to the front end.
  void AddLine(ResultLine line);
  void AddTextLine(ResultIcon icon, std::string text);

  // Shows a counter in its status-bar part: "File Analizzati: ", "File Infetti: " or
  // "File Totali: " and the count in decimal.
  void ShowCounter(StatusPart part);

  // The result list: at most kResultListSlots lines; when more were sent, the last slot
  // says how many the list left out (the log has them all). Its storage is reserved whole
  // when the session is made, so a stored line stays where it is until Reset; only the last
  // slot is ever rewritten.
  const std::vector<std::string>& result_list() const { return result_list_; }
  uint64_t lines_sent() const { return lines_sent_; }

  // Empties the list, zeroes the counters and forgets the stale copies for a new scan.
  void Reset();

 private:
  const DatabaseImage& signatures_;
  const DatabaseImage& names_;
  ScanLog& log_;
  UserInterface& ui_;
  Language language_;
  ScanOptions options_;
  // The counters' labels, scanned, infected and total, looked up once: they are shown twice
  // for every file.
  std::array<std::string_view, 3> counter_labels_;
  ContainerOpener* container_opener_ = nullptr;
  const ImportedDetector* imported_ = nullptr;
  ContainerLimits container_limits_;
  DetectionPool* detection_pool_ = nullptr;
  std::vector<std::pair<uint64_t, uint64_t>> drive_images_;
  bool read_only_ = false;
  bool crosses_mounts_ = false;
  ScanCounters counters_;
  UnreadableTally unreadable_tally_;
  StaleCopies stale_copies_;
  std::atomic<bool> stop_requested_{false};
  std::vector<std::string> result_list_;
  uint64_t lines_sent_ = 0;
  int progress_ = 0;
  std::string status_text_;  // the counter last shown
};

}  // namespace quarn
