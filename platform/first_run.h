// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

#include "platform/folder.h"
#include "platform/settings_store.h"
#include "platform/status.h"

namespace quarn {

// What an installer would have done, done by the program on its first run; shared by the
// desktop program and the terminal scanner.
//
// When the store holds a non-empty "DAT" text under kProgramKey, returns it and touches
// nothing. Otherwise creates `user_data_dir` (with its parents), copies every regular file
// of `bundled_dir` into it, writes "DAT" = `user_data_dir` as REG_SZ and returns that.
// A file already present under the same name is kept as it is. Each copy is written under a
// temporary name of the form ".NAME.quarn-XXXXXX" and renamed into place without replacing,
// so a half-copied file never appears under its real name. Should another program write
// "DAT" meanwhile, its value wins and is returned.
//
// A failure names the folder or file and the cause; "DAT" is then left unwritten, so the
// next run tries again.
Result<std::string> EnsureDataDirectory(SettingsStore& store, FileSystem& files,
                                        const std::string& bundled_dir,
                                        const std::string& user_data_dir);

// Brings the data folder `data_dir` up to the bundle after an upgrade: every regular file of
// `bundled_dir` is copied over its namesake there (or added); the folder's other files, the
// user's own, stay. Each copy goes through a temporary name as on the first run and is renamed
// over the old file, `last_name` after all others: a run stopped halfway leaves that file as
// it was, so whoever decides by it tries again. A failure names the file and the cause.
Status RefreshFromBundle(FileSystem& files, const std::string& bundled_dir,
                         const std::string& data_dir, std::string_view last_name);

// $XDG_DATA_HOME/quarnexp when that is set to an absolute path, else
// $HOME/.local/share/quarnexp (the home folder from the user database when HOME is unset).
std::string DefaultUserDataDirectory();

}  // namespace quarn
