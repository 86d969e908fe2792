#pragma once

#include <functional>
#include <string>

#include "engine/scan_log.h"
#include "platform/folder.h"

namespace quarn {

// Opens `log` on `name` in the host folder `folder_path`, as ScanLog::Open does, but so that
// the first thing that goes wrong with it (the folder or the file cannot be opened or
// created, a write stores fewer bytes than asked: a read-only folder, a full disk) is passed
// to `report`, once for the whole run, as a sentence naming the file and the cause. The scan
// goes on either way; the log then takes what it still can. False when the log could not be
// opened at all.
bool OpenWatchedLog(FileSystem& files, const std::string& folder_path, const std::string& name,
                    ScanLog& log, std::function<void(const std::string&)> report);

}  // namespace quarn
