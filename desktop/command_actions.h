#pragma once

#include <QAction>
#include <QObject>
#include <array>
#include <map>

#include "desktop/window_commands.h"
#include "res/message_table.h"

namespace quarn::window {

// The toolbar's buttons, left to right: their images are the toolbar pictures in this order.
inline constexpr std::array<int, 11> kToolbarCommands = {
    kCommandScan,          kCommandStop,      kCommandOptions, kCommandPrint,
    kCommandFloppyBootFix, kCommandScheduler, kCommandViewLog, kCommandEncyclopedia,
    kCommandOnlineUpdate,  kCommandAbout,     kCommandExit};

// One action per command, shared by the menu and the toolbar, so both always show the same
// state. Each reports its id through `triggered`.
class CommandActions : public QObject {
  Q_OBJECT

 public:
  CommandActions(Language language, QObject* parent);

  // nullptr for an id that names no command.
  QAction* Get(int id) const;

  // Scanning: Stop enabled, and Scan, Options, Print, Floppy Disk Boot Fix, Exit and View
  // log disabled; idle the other way round. The other commands stay as they are.
  void SetScanning(bool scanning);

 signals:
  void triggered(int command_id);

 private:
  std::map<int, QAction*> actions_;
};

}  // namespace quarn::window
