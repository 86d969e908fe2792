#include "desktop/dialogs/dialog_parts.h"

#include <QFile>

namespace quarn::tools {
namespace {

constexpr char kBulletinBoardFileName[] = "ORVNBBS.HT";

}  // namespace

QString TableText(Language language, int n) {
  const std::string_view text = LoadText(language, n);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* NewLabel(const QString& text, const QString& object_name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(object_name);
  label->setWordWrap(true);
  label->setTextFormat(Qt::PlainText);  // a virus name is no markup
  return label;
}

QPushButton* NewOkButton(QDialog* dialog) {
  QPushButton* button =
      NewClosingButton(QStringLiteral("OK"), QStringLiteral("okButton"), dialog, [] {});
  button->setDefault(true);
  return button;
}

QPushButton* NewCancelButton(Language language, QDialog* dialog) {
  constexpr int kCancelText = 493;
  return NewClosingButton(TableText(language, kCancelText), QStringLiteral("cancelButton"), dialog,
                          [] {});
}

QPushButton* NewInternetButton(QDialog* dialog, ExternalLauncher& launcher) {
  return NewClosingButton(QStringLiteral("Internet"), QStringLiteral("internetButton"), dialog,
                          [&launcher] { launcher.OpenUrl(QString::fromLatin1(kMakerWebAddress)); });
}

QPushButton* NewBulletinBoardButton(QDialog* dialog, ExternalLauncher& launcher,
                                    const std::string& data_directory) {
  const QString file = BulletinBoardFile(data_directory);
  return NewClosingButton(QStringLiteral("O.R.V.N. BBS"), QStringLiteral("bbsButton"), dialog,
                          [&launcher, file] { launcher.OpenFile(file); });
}

QString BulletinBoardFile(const std::string& data_directory) {
  QString directory = QFile::decodeName(
      QByteArray(data_directory.data(), static_cast<qsizetype>(data_directory.size())));
  while (directory.endsWith(QLatin1Char('/'))) directory.chop(1);
  return directory + QLatin1Char('/') + QLatin1String(kBulletinBoardFileName);
}

QStringList BrowserNames() {
  return {QStringLiteral("Internet Explorer"), QStringLiteral("Netscape"),
          QStringLiteral("Mosaic")};
}

AcceptButtons NewAcceptButtons(QDialog* dialog) {
  auto* ok = new QPushButton(QStringLiteral("OK"), dialog);
  ok->setObjectName(QStringLiteral("okButton"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), dialog);
  cancel->setObjectName(QStringLiteral("cancelButton"));
  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  return {ok, cancel};
}

}  // namespace quarn::tools
