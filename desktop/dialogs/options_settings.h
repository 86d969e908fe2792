#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/scan_options.h"
#include "engine/user_interface.h"
#include "platform/registry_document.h"
#include "res/message_table.h"

// What the Options dialog reads from and writes to the settings store, apart from its widgets.
namespace quarn::tools {

inline constexpr std::string_view kOptionsValue = "Opzioni";
inline constexpr std::string_view kMonitorDisabledValue = "QSM";
inline constexpr std::string_view kDataDirectoryValue = "DAT";

// Where the resident monitor is made to start with the system: its program through the Run
// value, its driver through the static driver key.
inline constexpr std::string_view kRunKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\windows\\currentversion\\Run";
inline constexpr std::string_view kMonitorRunValue = "QUARNMONITOR";
inline constexpr std::string_view kMonitorProgramName = "MONITOR.EXE";
inline constexpr std::string_view kMonitorDriverKey =
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\QUARNMON";
inline constexpr std::string_view kMonitorDriverValue = "StaticVxD";
inline constexpr std::string_view kMonitorDriverName = "QUARNMON.VXD";

// What the dialog shows besides the scan options: the monitor-disabled flag ("QSM" = 1) and
// the "DAT" text, each as stored; a value that is absent reads as 0 and "".
struct MonitorSettings {
  bool monitor_disabled = false;
  std::string data_directory;
};
MonitorSettings ReadMonitorSettings(const RegistryDocument& settings);

// Stores what OK accepted: "Opzioni" packed, "QSM", and the monitor's start-up entries. With
// the monitor enabled the Run value is `data_directory` and "MONITOR.EXE" run together, as
// stored (no separator is added), and the driver key holds "StaticVxD"; with it disabled the
// Run value and the whole driver key are removed. Other values and keys are left as they are.
void StoreOptions(RegistryDocument& settings, const ScanOptions& options, bool monitor_disabled,
                  std::string_view data_directory);

// One text of the options status bar.
struct StatusText {
  OptionsStatusPart part;
  std::string text;
  bool operator==(const StatusText&) const = default;
};

// The three texts to show after OK, in the order they are set: the file filter (part 0),
// heuristics (part 2), the scan action (part 1). A setting without a text gives an empty one.
std::vector<StatusText> OptionsStatusTexts(Language language, const ScanOptions& options);

}  // namespace quarn::tools
