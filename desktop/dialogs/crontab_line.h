#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/dialogs/schedule.h"

// The scheduled scan as one line of the user's crontab. docs/scheduler.md describes the line.
namespace quarn::tools {

// Ends the crontab line of the scheduled scan, so it can be found and replaced; other lines
// are never touched.
inline constexpr std::string_view kScheduleTag = "# quarnexp-schedule";

// The arguments of a command line as the dialog holds it. Words are separated by blanks
// (space, tab, and any other control character); '…' and "…" group their text literally,
// blanks included, and may adjoin other text of the word ("--log=\"a b\"" is --log=a b);
// "" is an empty argument; a quote left open runs to the end. A backslash is an ordinary
// character, since drive paths are written with it (C:\DOS). When the first word names the
// program itself (quarnscan or quarnexp, with or without a folder and ".exe", in any case),
// it is dropped: the line runs quarnscan in any case.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

// `argument` as one word for the shell that cron starts: in single quotes, each ' written as
// '\'' , and each % as \% (cron would end the command there; it drops that backslash). A %
// that follows a backslash is written outside the quotes, as '\%', so cron does not take the
// backslash before it as escaping the argument's own backslash.
std::string QuoteCrontabArgument(std::string_view argument);

// What the line runs besides the dialog's command line, all absolute paths.
struct ScheduledCommand {
  std::string scanner;        // quarnscan
  std::string settings_path;  // the settings store, for --settings
  std::string log_path;       // QUARNEXP.LOG in the data directory; empty: quarnscan's default
};

// The crontab line of `schedule`, tag included, without a line end; nothing when the
// schedule never runs: scheduling off, daily with no day chosen, an empty command line, or a
// time, weekday or day of the month outside its range (the dialog offers none of those), or
// a path holding a line break. At start-up is "@reboot"; daily, weekly and monthly run at
// the hour and minute, on the chosen days of the week (cron numbers 0 Sunday to 6 Saturday,
// "*" for all seven), the chosen weekday, or the chosen day of the month (a month without
// that day is skipped). The command is quarnscan, --settings, --log unless the command line
// gives --log or --no-log itself, then the command line's arguments; standard output, which
// repeats the log, is dropped, and errors go to cron's mail.
std::optional<std::string> ScheduleCrontabLine(const Schedule& schedule,
                                               const ScheduledCommand& command);

// Whether a crontab line is the scheduled scan's.
bool IsScheduleLine(std::string_view line);

// `crontab` (the text `crontab -l` printed) with the scheduled scan's line put where the
// first earlier one was, or last when there was none, and every other earlier one removed;
// with no `line`, only removed. Other lines stay as they were. The text ends with a line end
// unless it is empty.
std::string MergeScheduleLine(std::string_view crontab, const std::optional<std::string>& line);

}  // namespace quarn::tools
