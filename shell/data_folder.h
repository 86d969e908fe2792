// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "platform/folder.h"
#include "platform/settings_store.h"
#include "platform/status.h"

namespace quarn {

// Whether a run brings the user's copy of the database up to the bundled one before it loads
// it. A run that must write nothing skips it.
enum class BundleRefresh { kSkip, kRefresh };

// The data folder a run loads from: the store's "DAT", set up by EnsureDataDirectory on the
// first run. With kRefresh, when "DAT" is the per-user copy `user_data_dir` and the bundled
// QUARN.DAT is newer than the copy's (IsNewerDatabase; a copy that cannot be read is older),
// the bundle is copied over it first (RefreshFromBundle): a package upgrade's signatures reach
// a user who ran the program before. QUARNX.DAT and the user's other files stay. A folder
// "DAT" names elsewhere is the user's own choice and never written. A failure names the file.
Result<std::string> PrepareDataDirectory(SettingsStore& store, FileSystem& files,
                                         const std::string& bundled_dir,
                                         const std::string& user_data_dir, BundleRefresh refresh);

// The line the programs' --version print after their own: the database a run would load (the
// store's "DAT" when it names one, else the bundled folder), its version, date and folder,
// "database 1 of Dec 2026 (/usr/share/quarnexp)", and when the bundled database is to replace
// the per-user copy at the next start, that one too. Reads only: nothing is written. When
// QUARN.DAT cannot be read there, the line says so and names the folder.
std::string DatabaseVersionLine(FileSystem& files, SettingsStore& settings,
                                const std::string& bundled_dir, const std::string& user_data_dir);

// DatabaseVersionLine of this installation: the host's files, the default settings store, the
// bundled folder beside the program and the default per-user folder.
std::string InstalledDatabaseVersionLine();

}  // namespace quarn
