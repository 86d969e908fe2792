#include "shell/window/update_reminders.h"

namespace quarn::window {

bool UpdateReminderDue(CalendarMonth today, CalendarMonth dated) {
  return today.year > dated.year || (today.year >= dated.year && today.month >= dated.month);
}

}  // namespace quarn::window
