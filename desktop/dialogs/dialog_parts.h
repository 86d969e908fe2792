#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <string>

#include "desktop/dialogs/information_dialogs.h"
#include "res/message_table.h"

// What the information dialogs share: texts, buttons and the two ways out to another program.
// Private to the dialogs.
namespace quarn::tools {

// Every dialog here ends with this result, whichever way it is closed.
inline constexpr int kDialogResult = 0;

// String n of the table in `language`, UTF-8 decoded.
QString TableText(Language language, int n);

// A word-wrapped label named `object_name`.
QLabel* NewLabel(const QString& text, const QString& object_name, QWidget* parent);

// A push button named `object_name` that closes `dialog` once `action` has run.
template <typename Action>
QPushButton* NewClosingButton(const QString& text, const QString& object_name, QDialog* dialog,
                              Action action) {
  auto* button = new QPushButton(text, dialog);
  button->setObjectName(object_name);
  QObject::connect(button, &QPushButton::clicked, dialog, [dialog, action] {
    action();
    dialog->done(kDialogResult);
  });
  return button;
}

QPushButton* NewOkButton(QDialog* dialog);

// The OK (default, accepts) and Cancel (rejects) buttons of a dialog that changes settings,
// named okButton and cancelButton.
struct AcceptButtons {
  QPushButton* ok;
  QPushButton* cancel;
};
AcceptButtons NewAcceptButtons(QDialog* dialog);
QPushButton* NewCancelButton(Language language, QDialog* dialog);

// The Internet button: opens the maker's web address in the desktop's browser and closes.
QPushButton* NewInternetButton(QDialog* dialog, ExternalLauncher& launcher);

// The bulletin-board button: opens the connection file in the data directory and closes.
QPushButton* NewBulletinBoardButton(QDialog* dialog, ExternalLauncher& launcher,
                                    const std::string& data_directory);

// The bulletin board's connection file: `data_directory` + "/ORVNBBS.HT", with exactly one
// separator between them however many the directory ends with. The directory's bytes are
// taken as a file name of this system, not as text.
QString BulletinBoardFile(const std::string& data_directory);

// The browsers a user may choose, in the order of the choice controls. On this platform
// every one of them opens the desktop's default browser.
QStringList BrowserNames();

}  // namespace quarn::tools
