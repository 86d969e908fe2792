#pragma once

#include <QMenuBar>

#include "desktop/command_actions.h"
#include "res/message_table.h"

namespace quarn::window {

// Fills the menu bar with the Italian or the English menus ("Scan", "Tools",
// "Informazioni" / "Information") and names the actions as those menus do.
void BuildMenus(QMenuBar* bar, Language language, CommandActions& actions);

}  // namespace quarn::window
