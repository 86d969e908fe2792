#include "desktop/dialogs/options_settings.h"

namespace quarn::tools {

MonitorSettings ReadMonitorSettings(const RegistryDocument& settings) {
  MonitorSettings monitor;
  monitor.monitor_disabled = settings.ReadNumber(kProgramKey, kMonitorDisabledValue) == 1u;
  monitor.data_directory = settings.ReadText(kProgramKey, kDataDirectoryValue).value_or("");
  return monitor;
}

void StoreOptions(RegistryDocument& settings, const ScanOptions& options, bool monitor_disabled,
                  std::string_view data_directory) {
  settings.WriteNumber(kProgramKey, kOptionsValue, options.Pack());
  settings.WriteNumber(kProgramKey, kMonitorDisabledValue, monitor_disabled ? 1 : 0);
  if (monitor_disabled) {
    settings.DeleteValue(kRunKey, kMonitorRunValue);
    settings.DeleteKey(kMonitorDriverKey);
    return;
  }
  std::string command(data_directory);
  command += kMonitorProgramName;
  settings.SetValue(kRunKey, kMonitorRunValue, RegistryValue::Text(command));
  settings.SetValue(kMonitorDriverKey, kMonitorDriverValue,
                    RegistryValue::Text(kMonitorDriverName));
}

std::vector<StatusText> OptionsStatusTexts(Language language, const ScanOptions& options) {
  return {
      {OptionsStatusPart::kFileFilter,
       std::string(FileFilterStatusText(language, options.file_filter))},
      {OptionsStatusPart::kHeuristics,
       std::string(HeuristicsStatusText(language, options.heuristics_enabled))},
      {OptionsStatusPart::kScanAction,
       std::string(ScanActionStatusText(language, options.scan_action))},
  };
}

}  // namespace quarn::tools
