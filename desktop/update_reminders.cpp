// SPDX-License-Identifier: Apache-2.0
#include "desktop/update_reminders.h"

namespace quarn::window {

bool UpdateReminderDue(CalendarMonth today, CalendarMonth dated) {
  return today.year > dated.year || (today.year >= dated.year && today.month >= dated.month);
}

bool DatabaseReminderDue(CalendarMonth today, CalendarMonth dated) {
  const int outdated = dated.year * 12 + (dated.month - 1) + kDatabaseShelfLifeMonths;
  return UpdateReminderDue(today, CalendarMonth{outdated / 12, outdated % 12 + 1});
}

}  // namespace quarn::window
