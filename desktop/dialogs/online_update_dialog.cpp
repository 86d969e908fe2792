#include <QButtonGroup>
#include <QDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>

#include "desktop/dialogs/dialog_parts.h"
#include "desktop/dialogs/information_dialogs.h"

namespace quarn::tools {
namespace {

constexpr int kTitleText = 201;
constexpr int kInternetGroupText = 202;
constexpr int kBulletinBoardGroupText = 203;

const char* const kRadioNames[] = {"explorerRadio", "netscapeRadio", "mosaicRadio"};

QGroupBox* NewInternetGroup(Language language, QDialog* dialog, ExternalLauncher& launcher) {
  auto* group = new QGroupBox(TableText(language, kInternetGroupText), dialog);
  group->setObjectName(QStringLiteral("internetGroup"));
  // One choice at a time; on this platform every browser is the desktop's default browser,
  // so the choice does not change what the Internet button opens.
  auto* choices = new QButtonGroup(group);
  auto* layout = new QVBoxLayout(group);
  const QStringList names = BrowserNames();
  for (qsizetype i = 0; i < names.size(); ++i) {
    auto* radio = new QRadioButton(names[i], group);
    radio->setObjectName(QLatin1String(kRadioNames[i]));
    radio->setChecked(i == 0);
    choices->addButton(radio);
    layout->addWidget(radio);
  }
  layout->addWidget(NewInternetButton(dialog, launcher), 0, Qt::AlignRight);
  return group;
}

QGroupBox* NewBulletinBoardGroup(Language language, QDialog* dialog, ExternalLauncher& launcher,
                                 const std::string& data_directory) {
  auto* group = new QGroupBox(TableText(language, kBulletinBoardGroupText), dialog);
  group->setObjectName(QStringLiteral("bbsGroup"));
  auto* layout = new QVBoxLayout(group);
  layout->addWidget(NewBulletinBoardButton(dialog, launcher, data_directory), 0, Qt::AlignRight);
  return group;
}

}  // namespace

void ShowOnlineUpdate(QWidget* parent, Language language, ExternalLauncher& launcher,
                      const std::string& data_directory) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("onlineUpdate"));
  dialog.setWindowTitle(TableText(language, kTitleText));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(NewCancelButton(language, &dialog));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(NewInternetGroup(language, &dialog, launcher));
  layout->addWidget(NewBulletinBoardGroup(language, &dialog, launcher, data_directory));
  layout->addLayout(buttons);
  dialog.exec();
}

}  // namespace quarn::tools
