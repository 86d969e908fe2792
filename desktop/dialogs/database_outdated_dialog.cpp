// SPDX-License-Identifier: Apache-2.0
#include <QDialog>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "desktop/dialogs/dialog_parts.h"
#include "desktop/dialogs/information_dialogs.h"

namespace quarn::tools {
namespace {

constexpr int kTitle = 484;
constexpr int kOutdatedText = 485;
constexpr int kRequestText = 486;

}  // namespace

void ShowDatabaseOutdated(QWidget* parent, Language language) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("databaseOutdated"));
  dialog.setWindowTitle(TableText(language, kTitle));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(NewOkButton(&dialog));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(
      NewLabel(TableText(language, kOutdatedText), QStringLiteral("outdatedText"), &dialog));
  layout->addWidget(
      NewLabel(TableText(language, kRequestText), QStringLiteral("requestText"), &dialog));
  layout->addLayout(buttons);
  dialog.exec();
}

}  // namespace quarn::tools
