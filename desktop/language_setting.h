#pragma once

#include "platform/settings_store.h"
#include "res/message_table.h"

namespace quarn::window {

// The language of this run from "Lingua". A value that is absent (or holds the preset
// 0xFFFFFFFF it is read into) is replaced by 0, Italian, written as a 4-byte REG_BINARY (a
// REG_DWORD stays one). A store that cannot be read or written gives the error; the run then
// goes on in Italian.
Result<Language> EnsureLanguageSetting(SettingsStore& store);

}  // namespace quarn::window
