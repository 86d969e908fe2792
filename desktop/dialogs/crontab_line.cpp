#include "desktop/dialogs/crontab_line.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace quarn::tools {
namespace {

constexpr uint32_t kLastHour = 23;
constexpr uint32_t kLastMinute = 59;
constexpr uint32_t kLastMonthDay = 31;
constexpr uint32_t kLastWeekday = 6;  // Saturday; 0 is Sunday, as in cron
constexpr std::string_view kDropStandardOutput = ">/dev/null";

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ' || c == '\x7f';
}

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered;
}

bool NamesTheProgram(std::string_view word) {
  const size_t slash = word.find_last_of("/\\");
  if (slash != std::string_view::npos) word.remove_prefix(slash + 1);
  std::string name = Lowered(word);
  if (name.ends_with(".exe")) name.resize(name.size() - 4);
  return name == "quarnscan" || name == "quarnexp";
}

bool ChoosesItsLog(const std::vector<std::string>& arguments) {
  return std::any_of(arguments.begin(), arguments.end(), [](const std::string& argument) {
    return argument == "--log" || argument.starts_with("--log=") || argument == "--no-log";
  });
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// Cron's day-of-week field for the daily mode's day bits (bit 0 Monday … bit 6 Sunday);
// empty when no day is chosen.
std::string DaysOfWeekField(uint32_t days) {
  constexpr uint32_t kAllDays = (1u << kWeekDays) - 1;
  days &= kAllDays;
  if (days == kAllDays) return "*";
  std::string field;
  // Sunday is cron's day 0 and the last bit; the others keep their order, Monday = 1.
  auto add = [&field](int cron_day) {
    if (!field.empty()) field += ',';
    field += std::to_string(cron_day);
  };
  if (days & kSundayBit) add(0);
  for (int day = 1; day < kWeekDays; ++day) {
    if (days & (kMondayBit << (day - 1))) add(day);
  }
  return field;
}

// The five time fields, or "@reboot"; empty when the schedule never runs.
std::string TimeFields(const Schedule& schedule) {
  if (schedule.mode == kScheduleAtStartUp) return "@reboot";
  if (schedule.hour > kLastHour || schedule.minute > kLastMinute) return {};
  const std::string minute_hour =
      std::to_string(schedule.minute) + " " + std::to_string(schedule.hour) + " ";
  switch (schedule.mode) {
    case kScheduleDaily: {
      const std::string days = DaysOfWeekField(schedule.days);
      return days.empty() ? std::string() : minute_hour + "* * " + days;
    }
    case kScheduleWeekly:
      if (schedule.weekday > kLastWeekday) return {};
      return minute_hour + "* * " + std::to_string(schedule.weekday);
    case kScheduleMonthly:
      if (schedule.month_day < 1 || schedule.month_day > kLastMonthDay) return {};
      return minute_hour + std::to_string(schedule.month_day) + " * *";
    default:
      return {};
  }
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view command_line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < command_line.size()) {
    if (IsBlank(command_line[i])) {
      ++i;
      continue;
    }
    std::string word;
    while (i < command_line.size() && !IsBlank(command_line[i])) {
      const char c = command_line[i++];
      if (c != '\'' && c != '"') {
        word += c;
        continue;
      }
      const size_t close = command_line.find(c, i);
      const size_t end = close == std::string_view::npos ? command_line.size() : close;
      word += command_line.substr(i, end - i);
      i = close == std::string_view::npos ? end : end + 1;
    }
    words.push_back(std::move(word));
  }
  if (!words.empty() && NamesTheProgram(words.front())) words.erase(words.begin());
  return words;
}

std::string QuoteCrontabArgument(std::string_view argument) {
  std::string quoted = "'";
  char previous = '\0';
  for (const char c : argument) {
    if (c == '\'') {
      quoted += "'\\''";
    } else if (c == '%') {
      quoted += previous == '\\' ? "'\\%'" : "\\%";
    } else {
      quoted += c;
    }
    previous = c;
  }
  quoted += '\'';
  return quoted;
}

std::optional<std::string> ScheduleCrontabLine(const Schedule& schedule,
                                               const ScheduledCommand& command) {
  const std::string fields = TimeFields(schedule);
  if (fields.empty()) return std::nullopt;
  const std::vector<std::string> arguments = SplitCommandLine(schedule.command_line);
  if (arguments.empty()) return std::nullopt;

  std::vector<std::string> words = {command.scanner, "--settings", command.settings_path};
  if (!command.log_path.empty() && !ChoosesItsLog(arguments)) {
    words.insert(words.end(), {"--log", command.log_path});
  }
  words.insert(words.end(), arguments.begin(), arguments.end());

  std::string line = fields;
  for (const std::string& word : words) {
    if (HasLineBreak(word)) return std::nullopt;
    line += ' ';
    line += QuoteCrontabArgument(word);
  }
  line += ' ';
  line += kDropStandardOutput;
  line += ' ';
  line += kScheduleTag;
  return line;
}

bool IsScheduleLine(std::string_view line) {
  while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
  if (!line.ends_with(kScheduleTag)) return false;
  line.remove_suffix(kScheduleTag.size());
  return line.empty() || IsBlank(line.back());
}

std::string MergeScheduleLine(std::string_view crontab, const std::optional<std::string>& line) {
  std::string merged;
  bool placed = !line.has_value();
  size_t start = 0;
  while (start < crontab.size()) {
    size_t end = crontab.find('\n', start);
    if (end == std::string_view::npos) end = crontab.size();
    const std::string_view current = crontab.substr(start, end - start);
    start = end + 1;
    if (!IsScheduleLine(current)) {
      merged.append(current).append("\n");
    } else if (!placed) {
      merged.append(*line).append("\n");
      placed = true;
    }
  }
  if (!placed) merged.append(*line).append("\n");
  return merged;
}

}  // namespace quarn::tools
