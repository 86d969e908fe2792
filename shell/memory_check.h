#pragma once

#include "platform/system_access.h"
#include "shell/scan_session.h"
#include "sysarea/memory_scan.h"

namespace quarn {

// The start-up memory scan of both front ends: its lines go through the session like any
// other (stored, logged, then shown, as plain text lines: the verdict is the result's, not a
// file's), its progress to the session's front end. The caller shows the alert for a virus
// found and then ends the run.
MemoryScanResult CheckMemoryAtStartUp(ScanSession& session, SystemAccess& system_access);

}  // namespace quarn
