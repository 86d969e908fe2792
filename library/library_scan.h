#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "library/event_sink_interface.h"
#include "library/scan_request.h"
#include "platform/status.h"
#include "shell/database_set.h"

namespace quarn {

// How a scan that ran ended.
enum class ScanEnd { kFinished, kStoppedBySink };

// Scans a file, or a folder and everything below it, as quarnscan scans a host path (paths
// in events are host paths). Fails, naming the path and the cause, only when the target
// cannot be scanned at all (absent, neither file nor folder); every event goes to `sink`,
// the summary last.
Result<ScanEnd> ScanPathToSink(const DatabaseSet& databases, const std::string& path,
                               const ScanRequest& request, const EventSink& sink);
// As ScanPathToSink for each path in turn, in one scan with one summary; fails, naming the
// first, when any of them cannot be scanned at all, before any is scanned.
Result<ScanEnd> ScanPathsToSink(const DatabaseSet& databases, const std::vector<std::string>& paths,
                                const ScanRequest& request, const EventSink& sink);

// Scans the bytes of `descriptor`, read at offsets, named "fd:N". A descriptor has no name
// for the files filter to go by: it is always scanned.
Result<ScanEnd> ScanDescriptorToSink(const DatabaseSet& databases, int descriptor,
                                     const ScanRequest& request, const EventSink& sink);

// Scans `bytes` as a file named `name`, whose extension the files filter goes by; an empty
// name is "buffer", always scanned.
Result<ScanEnd> ScanBytesToSink(const DatabaseSet& databases, std::span<const uint8_t> bytes,
                                const std::string& name, const ScanRequest& request,
                                const EventSink& sink);

}  // namespace quarn
