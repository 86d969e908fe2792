#pragma once

namespace quarn::window {

// The command ids of the menus and the toolbar. The toolbar's tooltips are the string-table
// texts of the same ids.
enum CommandId : int {
  kCommandPrint = 40002,
  kCommandAbout = 40003,
  kCommandExit = 40004,
  kCommandFloppyBootFix = 40009,
  kCommandScan = 40011,
  kCommandOptions = 40012,
  kCommandStop = 40013,
  kCommandEncyclopedia = 40014,
  kCommandViewLog = 40015,
  kCommandOnlineUpdate = 40016,
  kCommandScheduler = 40017,
  kCommandHelp = 40018,
};

}  // namespace quarn::window
