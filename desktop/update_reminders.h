// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace quarn::window {

struct CalendarMonth {
  int year = 0;
  int month = 0;  // 1 to 12
};

// When this version of the program came out: from then on it reminds the user at every start
// that it is out of date.
inline constexpr CalendarMonth kProgramUpdateDate{2000, 6};

// Whether a reminder for something dated `dated` is due `today`: from that month on, and
// every month of every later year.
bool UpdateReminderDue(CalendarMonth today, CalendarMonth dated);

// A database's date is the month it was made (the build dates its own with the build's), and
// it counts as outdated this long after.
inline constexpr int kDatabaseShelfLifeMonths = 12;

// Whether the outdated-database reminder is due `today` for a database dated `dated`: from
// kDatabaseShelfLifeMonths after its month on.
bool DatabaseReminderDue(CalendarMonth today, CalendarMonth dated);

}  // namespace quarn::window
