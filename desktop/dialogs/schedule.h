#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry_document.h"

// When the scheduled scan runs and what it scans: the seven values of the Scheduler dialog.
namespace quarn::tools {

enum ScheduleMode : uint32_t {
  kScheduleOff = 0,
  kScheduleAtStartUp = 1,
  kScheduleDaily = 2,
  kScheduleWeekly = 3,
  kScheduleMonthly = 4,
};

// The day bits of the daily mode, Monday first.
inline constexpr uint32_t kMondayBit = 1;
inline constexpr uint32_t kSundayBit = 64;
inline constexpr int kWeekDays = 7;
// The longest command line stored, in characters.
inline constexpr int kCommandLineLimit = 254;

struct Schedule {
  uint32_t mode = kScheduleOff;  // "Modo", ScheduleMode
  uint32_t days = 0;             // "Giorno": the daily mode's days, kMondayBit << (day - Monday)
  uint32_t weekday = 0;          // "Day": the weekly mode's day, 0 Sunday … 6 Saturday
  uint32_t hour = 0;             // "Ora"
  uint32_t minute = 0;           // "Min"
  uint32_t month_day = 1;        // "MeseDay"
  std::string command_line;      // "CMDLINE"
  bool operator==(const Schedule&) const = default;
};

// The stored schedule; a value that is absent (or of another type) keeps its value in
// `previous`. Values are taken as stored, however out of range.
Schedule LoadSchedule(const RegistryDocument& settings, Schedule previous = {});

// Writes all seven values under the program's key.
void StoreSchedule(RegistryDocument& settings, const Schedule& schedule);

// Which groups of the dialog a mode enables (the time group for every mode but start-up).
struct ScheduleGroups {
  bool days = false;
  bool weekday = false;
  bool month_day = false;
  bool time = false;
  bool operator==(const ScheduleGroups&) const = default;
};
ScheduleGroups EnabledGroups(uint32_t mode);

}  // namespace quarn::tools
