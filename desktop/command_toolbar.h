#pragma once

#include <QLabel>
#include <QToolBar>

#include "desktop/command_actions.h"

namespace quarn::window {

// Where the logo sits on the toolbar, past the last button.
inline constexpr QPoint kLogoPosition{522, 5};

// The toolbar: the eleven 32 × 32 buttons of kToolbarCommands, each after a separator, with
// their tooltips, and the logo on the bar at kLogoPosition.
QToolBar* BuildCommandToolbar(QWidget* parent, CommandActions& actions);

}  // namespace quarn::window
