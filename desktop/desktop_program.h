#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "containers/all_containers_opener.h"
#include "engine/database_loader.h"
#include "platform/drive_map.h"
#include "platform/folder.h"
#include "platform/image_system_access.h"
#include "platform/settings_store.h"
#include "shell/image_drives.h"
#include "shell/scan_session.h"
#include "desktop/main_window.h"
#include "desktop/monitor_link.h"
#include "desktop/program_commands.h"
#include "desktop/scan_controller.h"
#include "desktop/update_reminders.h"
#include "desktop/window_arguments.h"
#include "desktop/window_interface.h"
#include "desktop/dialogs/information_dialogs.h"

namespace quarn::window {

// What the program takes from the machine, so that tests can give their own. Nothing is
// owned.
struct DesktopEnvironment {
  FileSystem* files = nullptr;
  SettingsStore* settings = nullptr;
  std::function<DriveMap()> detect_drives;  // asked only when neither flags nor settings map any
  std::function<std::vector<NetworkShare>()> network_shares;
  std::string bundled_data_directory;
  std::string user_data_directory;  // where a first run copies the bundled files
  std::string working_directory;    // for relative drive folders; "" when it cannot be named
  tools::ExternalLauncher* launcher = nullptr;
  CalendarMonth today;
  std::chrono::milliseconds splash_hold{3000};
};

inline constexpr char kLoadingTitle[] = "Quarn Explorer PROFESSIONAL 2.0";

// The desktop program: its start-up in the fixed order, and everything it keeps for the
// rest of the run.
class DesktopProgram {
 public:
  DesktopProgram(WindowArguments arguments, DesktopEnvironment environment);
  ~DesktopProgram();

  // Reads the language, builds the window, loads the databases, titles and shows the
  // window, shows the reminders that are due, scans memory and looks up the command line's
  // path, starting its scan when found. nullopt when the program goes on to wait for the
  // user; otherwise the program ends now with that exit status.
  std::optional<int> Start();

  MainWindow* window() const { return window_.get(); }
  ScanController* scans() const { return scans_; }
  ScanSession* session() const { return session_.get(); }
  const EngineState& engine() const { return engine_; }
  void RunCommand(int command_id) { commands_->Run(command_id); }

 private:
  bool PrepareDrives(const RegistryDocument& settings);
  std::optional<std::string> DataDirectoryOverride();
  void ShowDueReminders();
  void LookUpCommandLine();

  WindowArguments arguments_;
  DesktopEnvironment environment_;
  Language language_ = Language::kItalian;
  // Opens the run's disk images and those a walk meets; before everything that reads them.
  AllContainersOpener containers_;
  DriveMap drives_;
  ImageDrives image_drives_;  // open for the whole run: the tree and the scans read them
  std::unique_ptr<ImageSystemAccess> system_access_;
  MonitorLink monitor_;
  EngineState engine_;
  std::unique_ptr<ImportedDetector> imported_;  // QUARNX.DAT; null when there is none
  // Declared before the window so that the window, whose list reads the session, goes first.
  std::unique_ptr<WindowInterface> interface_;
  std::unique_ptr<ScanSession> session_;
  std::unique_ptr<MainWindow> window_;
  ScanController* scans_ = nullptr;      // owned by the window
  ProgramCommands* commands_ = nullptr;  // owned by the window
};

}  // namespace quarn::window
