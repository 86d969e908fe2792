// SPDX-License-Identifier: Apache-2.0
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "desktop/dialogs/dialog_parts.h"
#include "desktop/dialogs/information_dialogs.h"

namespace quarn::tools {
namespace {

constexpr int kTitle = 483;

constexpr int kUpdateAdvice = 491;
constexpr int kBrowserPrompt = 492;

}  // namespace

void ShowProgramOutdated(QWidget* parent, Language language, ExternalLauncher& launcher,
                         const std::string& data_directory) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("programOutdated"));
  dialog.setWindowTitle(TableText(language, kTitle));

  // The user still picks a browser, but on this platform each entry is the desktop's default
  // browser, so the Internet button opens the address the same way whichever is selected.
  auto* browsers = new QComboBox(&dialog);
  browsers->setObjectName(QStringLiteral("browserCombo"));
  browsers->clear();
  browsers->addItems(BrowserNames());
  browsers->setCurrentIndex(0);

  QLabel* prompt =
      NewLabel(TableText(language, kBrowserPrompt), QStringLiteral("browserPrompt"), &dialog);
  prompt->setWordWrap(false);
  auto* choice = new QHBoxLayout;
  choice->addWidget(prompt);
  choice->addWidget(browsers, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(NewInternetButton(&dialog, launcher));
  buttons->addWidget(NewBulletinBoardButton(&dialog, launcher, data_directory));
  buttons->addStretch();
  buttons->addWidget(NewCancelButton(language, &dialog));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(
      NewLabel(TableText(language, kUpdateAdvice), QStringLiteral("adviceText"), &dialog));
  layout->addLayout(choice);
  layout->addLayout(buttons);
  dialog.exec();
}

}  // namespace quarn::tools
