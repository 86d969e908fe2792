#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/registry_document.h"
#include "platform/status.h"

namespace quarn {

// The program's settings, in place of the registry. Every read sees a whole store as some
// writer left it; every update is applied to the freshest content under a lock, so two
// programs writing at once lose nothing.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // The store as it is now. A missing store, or one of 0 bytes, is an empty document; one
  // that cannot be parsed is an error naming the file, the line and the cause.
  virtual Result<RegistryDocument> Load() = 0;

  // Locks the store, reads it again, lets `change` edit it, writes it whole and atomically,
  // and unlocks. A store that cannot be parsed is left untouched and the error returned.
  virtual Status Update(const std::function<void(RegistryDocument&)>& change) = 0;

  // Where the store lives, for messages.
  virtual const std::string& Location() const = 0;
};

// The document a store's text holds. 0 bytes is a store that was never written, as a missing
// one is: an empty document. Any other text must be REGEDIT4; `location` names the store in
// the error.
Result<RegistryDocument> ParseStoreText(std::string_view text, const std::string& location);

// The store kept in a REGEDIT4 text file; the file and its folder are created on the first
// write. A store that is a symbolic link (or a chain of them) is written through to the file
// the chain ends at, which is replaced in its own folder, and the link stays. The lock is
// `<file>.lock` beside that file. Anything but a regular file there (a folder, a FIFO, a
// device) is refused with an error naming it, without waiting on it.
std::unique_ptr<SettingsStore> OpenFileSettingsStore(const std::string& path);

// The store's location when none is given: $QUARN_SETTINGS, else
// $XDG_CONFIG_HOME/quarnexp/settings.reg, else ~/.config/quarnexp/settings.reg.
std::string DefaultSettingsPath();

}  // namespace quarn
