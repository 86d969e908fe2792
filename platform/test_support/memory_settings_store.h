#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/settings_store.h"

namespace quarn {

// A settings store held in memory as REGEDIT4 text, for tests. It parses and formats exactly
// as the file store does, so a test sees the text a program would have left on disk, and it
// can make the next Loads or Updates fail. Safe to use from several threads; as with the file
// store, an Update's change must not call back into the store.
class MemorySettingsStore : public SettingsStore {
 public:
  // A store that does not exist yet: it loads as an empty document.
  explicit MemorySettingsStore(std::string location = "memory/settings.reg");

  // Replaces the whole store with `text`, which need not parse.
  void SetText(std::string text);
  // Makes the store absent again, as a missing file is.
  void Remove();
  // The text as the last Update left it or SetText put it; nothing when the store is absent.
  std::optional<std::string> Text() const;

  // The next `count` Loads (or Updates) fail with `message` and change nothing; an Update
  // that fails this way does not call its change.
  void FailNextLoads(int count, std::string message);
  void FailNextUpdates(int count, std::string message);

  // How many Updates were asked for, failed ones included.
  int update_count() const;

  Result<RegistryDocument> Load() override;
  Status Update(const std::function<void(RegistryDocument&)>& change) override;
  const std::string& Location() const override { return location_; }

 private:
  const std::string location_;
  mutable std::mutex mutex_;
  std::optional<std::string> text_;
  int failing_loads_ = 0;
  int failing_updates_ = 0;
  std::string load_failure_;
  std::string update_failure_;
  int update_count_ = 0;
};

}  // namespace quarn
