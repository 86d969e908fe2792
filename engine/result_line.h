#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarn {

// The image shown beside a line of the result list.
enum class ResultIcon { kBlank, kVirus, kHardDisk, kFloppy, kCdRom, kNetwork, kComputer };

// What a result line reports besides its text, so that every front end (the window, the
// terminal's plain and JSON output, the tests) gets the facts and not just the words.
enum class ReportKind { kText, kDetection, kSuspicious, kAction, kIncomplete };

enum class ActionKind { kClean, kDelete, kRename };

// One step of the way into a file that lies inside other files: what the outer file is
// ("fat12", "mbr") and the path inside it, "\" between folders and no drive letter. Plain
// text here: only the layer that opens such files knows what the words mean.
struct PathLayer {
  std::string kind;
  std::string name;
  bool operator==(const PathLayer&) const = default;
};

struct ResultLine {
  ResultIcon icon = ResultIcon::kBlank;
  std::string text;  // exactly as the result list and the log show it
  ReportKind kind = ReportKind::kText;

  // kDetection, kSuspicious, kAction and kIncomplete: the file, as shown and on this machine;
  // for a file inside a container, `host_path` is the outermost host file and `layers` the
  // way in, outermost first (empty for a host file).
  std::string path;
  std::string host_path;
  std::vector<PathLayer> layers;
  // kDetection.
  uint32_t virus_id = 0;
  std::string virus_name;
  bool variant = false;
  // kAction.
  ActionKind action = ActionKind::kClean;
  bool ok = false;
  std::string new_path;  // a rename's new name, as shown
  // kIncomplete: why part of a container was not scanned ("depth", "damaged").
  std::string reason;
};

// The verdict on one boot area. Its lines (the finding, then a removal's outcome) are plain
// result lines; the verdict is told once, when nothing more can change it.
struct BootVerdict {
  std::string target;     // the scanned path as shown ("A:", "C:\DOS")
  std::string area;       // "mbr" (master boot record) or "boot" (boot sector)
  uint32_t virus_id = 0;  // 0: no virus found
  std::string virus_name;
  bool variant = false;
  bool suspicious = false;      // the boot heuristics found what boot viruses do
  std::optional<bool> removed;  // set only when a removal was tried
  // A boot area of a disk image met in a walk: the outermost host file and the way into the
  // area's volume (its own name empty); both empty for a drive's boot areas.
  std::string host_path;
  std::vector<PathLayer> layers;
  bool operator==(const BootVerdict&) const = default;
};

// The seven counters of one scan, all zero when it starts.
struct ScanCounters {
  uint32_t infected = 0;
  uint32_t suspicious = 0;
  uint32_t scanned = 0;
  uint32_t total = 0;
  uint32_t cleaned = 0;
  uint32_t deleted = 0;
  uint32_t renamed = 0;
  // Parts of containers reported as not scanned; no total line shows it.
  uint32_t incomplete = 0;
  // Of those, the files and folders never judged at all (unreadable, or short of a temporary
  // file, a thread or a child process): with nothing found, the run did not do its job.
  uint32_t unjudged = 0;
  bool operator==(const ScanCounters&) const = default;
};

// The parts of the status bars a scan keeps up to date.
enum class StatusPart { kPath, kScanned, kInfected, kTotal };

}  // namespace quarn
