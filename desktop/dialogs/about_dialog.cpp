#include <QDialog>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "res/pictures/pictures.h"
#include "desktop/dialogs/dialog_parts.h"
#include "desktop/dialogs/information_dialogs.h"

namespace quarn::tools {
namespace {

constexpr char kProductName[] = "Quarn Explorer ";
constexpr char kProgramVersion[] = "2.0";

QString AboutTitle(Language language) {
  return language == Language::kEnglish ? QStringLiteral("About Quarn Explorer")
                                        : QStringLiteral("Informazioni su Quarn Explorer");
}

}  // namespace

void ShowAbout(QWidget* parent, Language language, uint32_t database_version) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("aboutDialog"));
  dialog.setWindowTitle(AboutTitle(language));

  auto* picture = new QLabel(&dialog);
  picture->setPixmap(pictures::AboutPicture());
  const QString version = QString::fromLatin1(kProductName) + QString::fromLatin1(kProgramVersion) +
                          QLatin1Char('.') + QString::number(database_version);
  QLabel* version_text = NewLabel(version, QStringLiteral("versionText"), &dialog);
  QLabel* contact =
      NewLabel(QString::fromLatin1(kMakerWebAddress), QStringLiteral("contactText"), &dialog);
  contact->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(NewOkButton(&dialog));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(picture);
  layout->addWidget(version_text);
  layout->addWidget(contact);
  layout->addLayout(buttons);
  dialog.exec();
}

}  // namespace quarn::tools
