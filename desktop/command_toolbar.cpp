#include "desktop/command_toolbar.h"

#include <QLayout>

#include "res/pictures/pictures.h"

namespace quarn::window {

QToolBar* BuildCommandToolbar(QWidget* parent, CommandActions& actions) {
  auto* toolbar = new QToolBar(parent);
  toolbar->setIconSize(QSize(32, 32));
  toolbar->setMovable(false);
  toolbar->setFloatable(false);
  toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  // Tight enough that the eleven buttons and their separators end before the logo.
  toolbar->layout()->setSpacing(0);
  toolbar->setContentsMargins(0, 0, 0, 0);
  for (int id : kToolbarCommands) {
    toolbar->addSeparator();
    toolbar->addAction(actions.Get(id));
  }
  auto* logo = new QLabel(toolbar);
  logo->setObjectName("logo");
  const QPixmap picture = pictures::Logo();
  logo->setPixmap(picture);
  logo->setGeometry(QRect(kLogoPosition, QSize(100, 25)));
  return toolbar;
}

}  // namespace quarn::window
