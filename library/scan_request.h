#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cli/container_arguments.h"
#include "engine/scan_options.h"
#include "platform/status.h"

namespace quarn {

// What a library caller asked of one scan; the defaults are the library's (files "exe",
// every container kind with the default limits, heuristics on, no action). Nothing here
// comes from the user's settings file.
struct ScanRequest {
  uint32_t file_filter = 0;
  uint32_t heuristics_enabled = 1;
  ScanAction action = kActionReportOnly;
  ContainerArguments containers;

  ScanOptions Options() const;
};

// Sets the option `name` (quarnscan's long option without the dashes) to `value`; a wrong
// name or value fails with a message naming both and leaves `request` as it was.
Status SetScanOption(ScanRequest& request, std::string_view name, std::string_view value);

}  // namespace quarn
