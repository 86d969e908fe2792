#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "desktop/dialogs/information_dialogs.h"
#include "desktop/main_window.h"
#include "desktop/network_shares.h"
#include "desktop/scan_controller.h"
#include "platform/drive_map.h"
#include "platform/folder.h"
#include "platform/settings_store.h"
#include "platform/system_access.h"
#include "res/message_table.h"
#include "shell/scan_session.h"

namespace quarn::window {

// What the commands of the menus and the toolbar work with. Nothing is owned.
struct CommandContext {
  MainWindow* window = nullptr;
  ScanController* scans = nullptr;
  tools::ExternalLauncher* launcher = nullptr;
  FileSystem* files = nullptr;
  Language language = Language::kItalian;
  std::string data_directory;     // where the databases were loaded from and the log is
  std::string bundled_directory;  // the data files that ship with the program
  uint32_t database_version = 0;
  // For the tools: the store the Options and the Scheduler write, the session whose options
  // and result list they change and print, the drives and sectors of the floppy fix, and the
  // network shares a rebuilt tree lists.
  SettingsStore* settings = nullptr;
  ScanSession* session = nullptr;
  const DriveMap* drives = nullptr;
  SystemAccess* system_access = nullptr;
  std::function<std::vector<NetworkShare>()> network_shares;
};

// Carries out each command of the menus and the toolbar; an id that names no command does
// nothing. Commands that open a dialog or a program give the tree the focus afterwards.
class ProgramCommands : public QObject {
  Q_OBJECT

 public:
  ProgramCommands(CommandContext context, QObject* parent);

  void Run(int command_id);

 private:
  void OpenDataFile(std::string_view name);
  // Runs the Options dialog; after OK the new options apply to the next scan, show in the
  // status bar, and the tree is built again so a change of the network setting shows.
  void ChangeOptions();
  void PrintResultList();

  CommandContext context_;
};

}  // namespace quarn::window
