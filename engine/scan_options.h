#pragma once

#include <cstdint>
#include <string_view>

#include "res/message_table.h"

namespace quarn {

// What "Opzioni" holds when nothing was ever set: executable extensions only, report only,
// heuristics on, no network resources.
inline constexpr uint32_t kDefaultScanOptions = 0x00010000;
// The preset the loader reads "Opzioni" into; a value that still holds it is replaced by
// the default (also when the store really holds this value).
inline constexpr uint32_t kUnsetScanOptions = 0x00FFFFFF;

enum ScanAction : uint32_t {
  kActionReportOnly = 0,
  kActionCleanAuto = 1,
  kActionCleanAsk = 2,
  kActionDeleteAuto = 3,
  kActionDeleteAsk = 4,
  kActionRenameAuto = 5,
  kActionRenameAsk = 6,
};

// The four settings packed one per byte, least significant first, into "Opzioni".
struct ScanOptions {
  uint32_t file_filter = 0;         // 0 executable extensions, 1 all files, other: no file
  uint32_t scan_action = 0;         // ScanAction
  uint32_t heuristics_enabled = 1;  // 1 on, anything else off
  uint32_t network_resources = 0;   // 1 listed, anything else not

  static ScanOptions Unpack(uint32_t packed);
  uint32_t Pack() const;
  bool operator==(const ScanOptions&) const = default;
};

// The three texts of the options status bar. A setting with no text of its own (a filter
// above 1, an action above 6) shows an empty part.
std::string_view FileFilterStatusText(Language language, uint32_t file_filter);
std::string_view HeuristicsStatusText(Language language, uint32_t heuristics_enabled);
std::string_view ScanActionStatusText(Language language, uint32_t scan_action);

}  // namespace quarn
