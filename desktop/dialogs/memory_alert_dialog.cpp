// SPDX-License-Identifier: Apache-2.0
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QStyle>

#include "desktop/dialogs/dialog_parts.h"
#include "desktop/dialogs/information_dialogs.h"

namespace quarn::tools {
namespace {

constexpr int kAlertTitleText = 351;
constexpr int kVirusPrefix = 477;
constexpr int kAdvice = 478;
constexpr int kAlertIconSize = 32;

}  // namespace

void ShowMemoryAlert(QWidget* parent, Language language, std::string_view virus_name) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("memoryAlert"));
  dialog.setWindowTitle(TableText(language, kAlertTitleText));

  auto* icon = new QLabel(&dialog);
  icon->setPixmap(
      dialog.style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(kAlertIconSize));
  // The name comes from memory the scan read: undecodable bytes become replacement
  // characters, and the label shows it as plain text.
  const QString name =
      QString::fromUtf8(virus_name.data(), static_cast<qsizetype>(virus_name.size()));
  QLabel* virus_text =
      NewLabel(TableText(language, kVirusPrefix) + name, QStringLiteral("virusText"), &dialog);
  QLabel* advice = NewLabel(TableText(language, kAdvice), QStringLiteral("adviceText"), &dialog);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(NewOkButton(&dialog));
  auto* layout = new QGridLayout(&dialog);
  layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  layout->addWidget(virus_text, 0, 1);
  layout->addWidget(advice, 1, 1);
  layout->addLayout(buttons, 2, 0, 1, 2);
  dialog.exec();
}

}  // namespace quarn::tools
