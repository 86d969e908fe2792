#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"

// The user's crontab, through the crontab program.
namespace quarn::tools {

// `crontab` found on the PATH, as an absolute path; empty when there is none.
QString FindCrontabProgram();

// The user's crontab as `program -l` prints it. An exit status of 1 with "no crontab" in the
// error output is an empty crontab; any other failure (the program cannot start, does not
// finish within a few seconds, or exits otherwise) is an error naming the program and what
// it said.
Result<std::string> ReadCrontab(const QString& program);

// Replaces the user's crontab by `text` through `program -`.
Status WriteCrontab(const QString& program, std::string_view text);

// Puts the scheduled scan's line into the user's crontab in place of the earlier one, or
// removes that one when there is no `line` (see MergeScheduleLine). A crontab that would not
// change is not written, so turning off a schedule that was never set writes nothing.
Status InstallScheduleLine(const QString& program, const std::optional<std::string>& line);

}  // namespace quarn::tools
