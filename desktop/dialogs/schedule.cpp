#include "desktop/dialogs/schedule.h"

namespace quarn::tools {
namespace {

constexpr std::string_view kModeValue = "Modo";
constexpr std::string_view kDaysValue = "Giorno";
constexpr std::string_view kWeekdayValue = "Day";
constexpr std::string_view kHourValue = "Ora";
constexpr std::string_view kMinuteValue = "Min";
constexpr std::string_view kMonthDayValue = "MeseDay";
constexpr std::string_view kCommandLineValue = "CMDLINE";

void LoadNumber(const RegistryDocument& settings, std::string_view name, uint32_t* value) {
  if (std::optional<uint32_t> stored = settings.ReadNumber(kProgramKey, name)) *value = *stored;
}

}  // namespace

Schedule LoadSchedule(const RegistryDocument& settings, Schedule previous) {
  LoadNumber(settings, kModeValue, &previous.mode);
  LoadNumber(settings, kDaysValue, &previous.days);
  LoadNumber(settings, kWeekdayValue, &previous.weekday);
  LoadNumber(settings, kHourValue, &previous.hour);
  LoadNumber(settings, kMinuteValue, &previous.minute);
  LoadNumber(settings, kMonthDayValue, &previous.month_day);
  if (std::optional<std::string> text = settings.ReadText(kProgramKey, kCommandLineValue)) {
    previous.command_line = std::move(*text);
  }
  return previous;
}

void StoreSchedule(RegistryDocument& settings, const Schedule& schedule) {
  settings.WriteNumber(kProgramKey, kModeValue, schedule.mode);
  settings.WriteNumber(kProgramKey, kDaysValue, schedule.days);
  settings.WriteNumber(kProgramKey, kWeekdayValue, schedule.weekday);
  settings.WriteNumber(kProgramKey, kHourValue, schedule.hour);
  settings.WriteNumber(kProgramKey, kMinuteValue, schedule.minute);
  settings.WriteNumber(kProgramKey, kMonthDayValue, schedule.month_day);
  settings.SetValue(kProgramKey, kCommandLineValue, RegistryValue::Text(schedule.command_line));
}

ScheduleGroups EnabledGroups(uint32_t mode) {
  ScheduleGroups groups;
  groups.days = mode == kScheduleDaily;
  groups.weekday = mode == kScheduleWeekly;
  groups.month_day = mode == kScheduleMonthly;
  groups.time = mode == kScheduleDaily || mode == kScheduleWeekly || mode == kScheduleMonthly;
  return groups;
}

}  // namespace quarn::tools
