#pragma once

#include <optional>
#include <string>

#include "engine/database_image.h"
#include "engine/scan_log.h"
#include "engine/scan_options.h"
#include "engine/user_interface.h"
#include "platform/folder.h"
#include "platform/settings_store.h"
#include "res/message_table.h"

namespace quarn {

inline constexpr std::string_view kSignatureFileName = "QUARN.DAT";
inline constexpr std::string_view kNameFileName = "NAMEVIR.DAT";
inline constexpr uint32_t kDatabaseHeaderSize = 512;
// A database beyond this size is refused rather than read into memory: real ones are a few
// megabytes, and a section can address no more than 4 GiB anyway.
inline constexpr uint64_t kMaxDatabaseFileSize = 256ull << 20;

// Program-wide state that start-up creates and the whole run reads.
struct EngineState {
  ScanOptions options;
  std::string data_directory;  // "DAT", or the override of this run
  ScanLog log;
  DatabaseImage signatures;
  DatabaseImage names;
};

struct LoadRequest {
  SettingsStore* settings = nullptr;
  FileSystem* files = nullptr;
  UserInterface* ui = nullptr;
  Language language = Language::kItalian;
  // The data directory of this run in place of "DAT" (the terminal scanner's --data-dir).
  std::optional<std::string> data_directory_override;
  // Where the log goes in place of QUARNEXP.LOG in the data directory; an empty path means
  // no log at all.
  std::optional<std::string> log_path_override;
};

// Reads the settings (writing the default "Opzioni" back when it is missing), shows the
// three option texts, opens the log and loads both databases into `state`. Result 1 when
// both images are loaded, 0 otherwise; a missing database is reported as
// "<NAME> non trovato" and one of 512 bytes or less as "<NAME> non valido", caption "Errore".
// The process's working directory is never changed.
int LoadDatabases(const LoadRequest& request, EngineState* state);

// Reads one database file (header skipped, image descrambled) from `folder`. On failure the
// result carries the message box text to show, or an empty message for a failure that shows
// none (a read that fails part way).
Result<DatabaseImage> LoadDatabaseFile(Folder& folder, std::string_view name);

// QUARN.DAT and NAMEVIR.DAT of `folder` into `signatures` and `names`, in that order, the
// signatures indexed once both are in. A failure carries LoadDatabaseFile's message.
Status LoadDatabaseImages(Folder& folder, DatabaseImage* signatures, DatabaseImage* names);

}  // namespace quarn
