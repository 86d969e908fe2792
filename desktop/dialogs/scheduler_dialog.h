#pragma once

#include <QString>
#include <QWidget>

#include "desktop/dialogs/schedule.h"
#include "platform/settings_store.h"
#include "platform/status.h"
#include "res/message_table.h"

namespace quarn::tools {

// Where the scheduled scan's programs are. Both empty for the real program.
struct SchedulerSetup {
  // The scanner the crontab line runs; empty: quarnscan beside the running executable.
  QString scanner;
  // The crontab program; empty: `crontab` on the PATH.
  QString crontab_program;
};

// What became of the Scheduler dialog; the main window has nothing more to do with it.
struct SchedulerOutcome {
  bool accepted = false;            // false after Cancel: nothing was written
  Schedule schedule;                // as shown when the dialog closed
  Status stored = Status::Ok();     // the store took the seven values (a failure is not shown)
  Status installed = Status::Ok();  // the crontab took the line (a failure was shown)
};

// Runs the Scheduler dialog modally over `parent`, showing the schedule stored in `store`.
// On OK it stores the seven values and makes the schedule happen: the user's crontab gets
// the scheduled scan's line in place of its earlier one, or loses it when the schedule never
// runs (see ScheduleCrontabLine). When there is no crontab program, or it fails, a message
// box says so; the values are stored all the same.
SchedulerOutcome RunSchedulerDialog(QWidget* parent, Language language, SettingsStore& store,
                                    const SchedulerSetup& setup = {});

}  // namespace quarn::tools
