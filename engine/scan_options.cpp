#include "engine/scan_options.h"

namespace quarn {
namespace {

constexpr int kFileFilterTextBase = 10;  // 10 executables, 11 all files
constexpr int kHeuristicsTextBase = 12;  // 12 off, 13 on
constexpr int kScanActionTextBase = 14;  // 14 + action

}  // namespace

ScanOptions ScanOptions::Unpack(uint32_t packed) {
  ScanOptions options;
  options.file_filter = packed & 0xFF;
  options.scan_action = (packed >> 8) & 0xFF;
  options.heuristics_enabled = (packed >> 16) & 0xFF;
  options.network_resources = (packed >> 24) & 0xFF;
  return options;
}

uint32_t ScanOptions::Pack() const {
  return (file_filter & 0xFF) | ((scan_action & 0xFF) << 8) | ((heuristics_enabled & 0xFF) << 16) |
         ((network_resources & 0xFF) << 24);
}

std::string_view FileFilterStatusText(Language language, uint32_t file_filter) {
  if (file_filter > 1) return {};
  return LoadText(language, kFileFilterTextBase + static_cast<int>(file_filter));
}

std::string_view HeuristicsStatusText(Language language, uint32_t heuristics_enabled) {
  return LoadText(language, kHeuristicsTextBase + (heuristics_enabled == 1 ? 1 : 0));
}

std::string_view ScanActionStatusText(Language language, uint32_t scan_action) {
  if (scan_action > kActionRenameAsk) return {};
  return LoadText(language, kScanActionTextBase + static_cast<int>(scan_action));
}

}  // namespace quarn
