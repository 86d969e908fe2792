#pragma once

#include <QWidget>
#include <vector>

#include "desktop/dialogs/options_settings.h"
#include "engine/scan_options.h"
#include "platform/settings_store.h"
#include "platform/status.h"
#include "res/message_table.h"

namespace quarn::tools {

// What the main window does after the Options dialog has closed.
struct OptionsOutcome {
  // False after Cancel: nothing was written and nothing below needs doing.
  bool accepted = false;
  // The options in force from now on: the new ones after OK, `current` after Cancel.
  ScanOptions options;
  // After OK: the options status bar's texts, to be set in this order.
  std::vector<StatusText> status_texts;
  // After OK: empty the drive tree and build it again, so a change of the network setting
  // shows, then expand and select the computer item.
  bool rebuild_tree = false;
  // Whether the store took the new values. A failure is not shown (the options still apply
  // to this run); the message names the store and the cause, for a log.
  Status stored = Status::Ok();
};

// Runs the Options dialog modally over `parent`. It shows `current` and the store's monitor
// switch ("QSM"); on OK it writes "Opzioni", "QSM" and the monitor's start-up entries (see
// StoreOptions) to `store`. Never throws; a store that cannot be read opens the dialog with
// the monitor enabled.
OptionsOutcome RunOptionsDialog(QWidget* parent, Language language, SettingsStore& store,
                                const ScanOptions& current);

}  // namespace quarn::tools
