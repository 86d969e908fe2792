#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quarn {

// The image shown beside a line of the result list.
enum class ResultIcon { kBlank, kVirus, kHardDisk, kFloppy, kCdRom, kNetwork, kComputer };

// What a result line reports besides its text, so that every front end (the window, the
// terminal's plain and JSON output, the tests) gets the facts and not just the words.
enum class ReportKind { kText, kDetection, kSuspicious, kAction };

enum class ActionKind { kClean, kDelete, kRename };

struct ResultLine {
  ResultIcon icon = ResultIcon::kBlank;
  std::string text;  // exactly as the result list and the log show it
  ReportKind kind = ReportKind::kText;

  // kDetection, kSuspicious and kAction: the file, as shown and on this machine.
  std::string path;
  std::string host_path;
  // kDetection.
  uint32_t virus_id = 0;
  std::string virus_name;
  bool variant = false;
  // kAction.
  ActionKind action = ActionKind::kClean;
  bool ok = false;
  std::string new_path;  // a rename's new name, as shown
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
  bool operator==(const ScanCounters&) const = default;
};

// The parts of the status bars a scan keeps up to date.
enum class StatusPart { kPath, kScanned, kInfected, kTotal };

}  // namespace quarn
