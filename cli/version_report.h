#pragma once

#include <string>

#include "platform/folder.h"
#include "platform/settings_store.h"

namespace quarn {

// The line `quarnscan --version` prints after the program's own: the database a scan would
// load (the store's "DAT" when it names one, else the bundled folder), its version and date,
// "database 1 of Dec 2026 (/usr/share/quarnexp)". Reads only: no first run, nothing written.
// When QUARN.DAT cannot be read there, the line says so and names the folder.
std::string DatabaseVersionLine(FileSystem& files, SettingsStore& settings,
                                const std::string& bundled_directory);

}  // namespace quarn
