#include <QDialog>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "tools/dialog_parts.h"
#include "tools/information_dialogs.h"

namespace quarn::tools {
namespace {

constexpr char kTitle[] = "Attenzione...";
constexpr char kOutdatedText[] =
    "Le basi antivirali di Quarn attualmente in uso, in relazione ai nuovi virus informatici "
    "circolanti, sono da considerarsi superate.";
constexpr char kRequestText[] =
    "Per la sicurezza del Vostro computer potete richiedere le basi aggiornate a Orvane.";

}  // namespace

void ShowDatabaseOutdated(QWidget* parent, Language /*language*/) {
  // Its texts are the same in both languages.
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("databaseOutdated"));
  dialog.setWindowTitle(QString::fromLatin1(kTitle));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(NewOkButton(&dialog));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(
      NewLabel(QString::fromLatin1(kOutdatedText), QStringLiteral("outdatedText"), &dialog));
  layout->addWidget(
      NewLabel(QString::fromLatin1(kRequestText), QStringLiteral("requestText"), &dialog));
  layout->addLayout(buttons);
  dialog.exec();
}

}  // namespace quarn::tools
