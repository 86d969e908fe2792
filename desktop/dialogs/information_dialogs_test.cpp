// SPDX-License-Identifier: Apache-2.0
#include "desktop/dialogs/information_dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "res/pictures/pictures.h"

namespace quarn::tools {
namespace {

constexpr int kPollInterval = 10;
constexpr int kMaxPolls = 500;

class RecordingLauncher final : public ExternalLauncher {
 public:
  void OpenUrl(const QString& url) override { urls << url; }
  void OpenFile(const QString& path) override { files << path; }

  QStringList urls;
  QStringList files;
};

struct ModalRun {
  bool shown = false;
  bool closed_by_test = false;  // `drive` closed the dialog itself
};

// Calls `show`, which runs a modal dialog, and hands that dialog to `drive` once it is up.
// A dialog that `drive` leaves open is closed afterwards, so a failing test does not hang.
ModalRun RunModal(const std::function<void()>& show, const std::function<void(QDialog&)>& drive) {
  ModalRun run;
  QObject context;  // cancels the polls still queued when the dialog never shows
  int polls = 0;
  std::function<void()> poll = [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) {
      if (++polls < kMaxPolls) QTimer::singleShot(kPollInterval, &context, poll);
      return;
    }
    run.shown = true;
    drive(*dialog);
    run.closed_by_test = !dialog->isVisible();
    if (!run.closed_by_test) dialog->done(0);
  };
  QTimer::singleShot(0, &context, poll);
  show();
  return run;
}

template <typename T>
T* Find(QDialog& dialog, const char* name) {
  return dialog.findChild<T*>(QLatin1String(name));
}

void Click(QDialog& dialog, const char* button_name) {
  auto* button = Find<QPushButton>(dialog, button_name);
  QVERIFY2(button != nullptr, button_name);
  button->click();
}

QString DialogText(QDialog& dialog, const char* label_name) {
  auto* label = Find<QLabel>(dialog, label_name);
  return label != nullptr ? label->text() : QStringLiteral("<no label %1>").arg(label_name);
}

enum class Reminder { kProgramOutdated, kOnlineUpdate };

void ShowReminder(Reminder reminder, Language language, ExternalLauncher& launcher,
                  const std::string& data_directory) {
  if (reminder == Reminder::kProgramOutdated) {
    ShowProgramOutdated(nullptr, language, launcher, data_directory);
  } else {
    ShowOnlineUpdate(nullptr, language, launcher, data_directory);
  }
}

}  // namespace

class InformationDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void AboutNamesProgramAndDatabaseVersion_data() {
    QTest::addColumn<uint>("database_version");
    QTest::addColumn<QString>("expected");
    QTest::newRow("57") << 57u << "Quarn Explorer 2.0.57";
    QTest::newRow("0") << 0u << "Quarn Explorer 2.0.0";
    QTest::newRow("largest") << 4294967295u << "Quarn Explorer 2.0.4294967295";
  }

  void AboutNamesProgramAndDatabaseVersion() {
    QFETCH(uint, database_version);
    QFETCH(QString, expected);
    QString shown;
    ModalRun run = RunModal([&] { ShowAbout(nullptr, Language::kItalian, database_version); },
                            [&](QDialog& dialog) {
                              shown = DialogText(dialog, "versionText");
                              Click(dialog, "okButton");
                            });
    QVERIFY(run.shown);
    QCOMPARE(shown, expected);
    QVERIFY(run.closed_by_test);
  }

  void MemoryAlertNamesTheVirus_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("virus");
    QTest::addColumn<QString>("advice");
    QTest::newRow("Italian") << 0 << "Attenzione VIRUS FOUND"
                             << "IL VIRUS Stoned.B"
                             << "E' STATO INDIVIDUATO ATTIVO IN MEMORIA. PER LA RIMOZIONE "
                                "PARTIRE DA UN DISCO DI BOOT PULITO.";
    QTest::newRow("English") << 1 << "Warning VIRUS FOUND"
                             << "THE VIRUS Stoned.B"
                             << "HAS BEEN FOUND ACTIVE IN MEMORY. TO REMOVE IT START FROM A CLEAN "
                                "BOOT DISK.";
  }

  void MemoryAlertNamesTheVirus() {
    QFETCH(int, language);
    QFETCH(QString, title);
    QFETCH(QString, virus);
    QFETCH(QString, advice);
    QString shown_title, virus_text, advice_text;
    ModalRun run =
        RunModal([&] { ShowMemoryAlert(nullptr, static_cast<Language>(language), "Stoned.B"); },
                 [&](QDialog& dialog) {
                   shown_title = dialog.windowTitle();
                   virus_text = DialogText(dialog, "virusText");
                   advice_text = DialogText(dialog, "adviceText");
                   Click(dialog, "okButton");
                 });
    QVERIFY(run.shown);
    QCOMPARE(shown_title, title);
    QCOMPARE(virus_text, virus);
    QCOMPARE(advice_text, advice);
    QVERIFY(run.closed_by_test);
  }

  void MemoryAlertShowsMarkupInANameAsText() {
    Qt::TextFormat format = Qt::RichText;
    QString virus_text;
    RunModal([&] { ShowMemoryAlert(nullptr, Language::kEnglish, "<b>Evil</b>&amp;"); },
             [&](QDialog& dialog) {
               auto* label = Find<QLabel>(dialog, "virusText");
               QVERIFY(label != nullptr);
               format = label->textFormat();
               virus_text = label->text();
             });
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(virus_text, QStringLiteral("THE VIRUS <b>Evil</b>&amp;"));
  }

  void ProgramOutdatedOffersThreeBrowsers() {
    QString title;
    QStringList entries;
    int selected = -1;
    RecordingLauncher launcher;
    ModalRun run =
        RunModal([&] { ShowProgramOutdated(nullptr, Language::kItalian, launcher, "/data"); },
                 [&](QDialog& dialog) {
                   title = dialog.windowTitle();
                   auto* combo = Find<QComboBox>(dialog, "browserCombo");
                   QVERIFY(combo != nullptr);
                   for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
                   selected = combo->currentIndex();
                   Click(dialog, "cancelButton");
                 });
    QVERIFY(run.shown);
    QCOMPARE(title, QStringLiteral("Attenzione: questa versione e' da considerarsi superata !"));
    QCOMPARE(entries, (QStringList{"Internet Explorer", "Netscape", "Mosaic"}));
    QCOMPARE(selected, 0);
    QVERIFY(run.closed_by_test);
    QVERIFY(launcher.urls.isEmpty());
    QVERIFY(launcher.files.isEmpty());
  }

  void ProgramOutdatedOpensTheAddressWhicheverBrowserIsChosen() {
    for (int browser : {0, 1, 2}) {
      RecordingLauncher launcher;
      QString title;
      ModalRun run =
          RunModal([&] { ShowProgramOutdated(nullptr, Language::kEnglish, launcher, "/data"); },
                   [&](QDialog& dialog) {
                     title = dialog.windowTitle();
                     auto* combo = Find<QComboBox>(dialog, "browserCombo");
                     QVERIFY(combo != nullptr);
                     combo->setCurrentIndex(browser);
                     Click(dialog, "internetButton");
                   });
      QVERIFY(run.closed_by_test);
      QCOMPARE(title, QStringLiteral("Warning: this version is out of date !"));
      QCOMPARE(launcher.urls, QStringList{QString::fromLatin1(kMakerWebAddress)});
      QVERIFY(launcher.files.isEmpty());
    }
  }

  void ConnectionButtonsOpenTheirTargetAndClose_data() {
    QTest::addColumn<int>("reminder");
    QTest::addColumn<QString>("data_directory");
    QTest::addColumn<QString>("bbs_file");
    const QString long_directory = QLatin1Char('/') + QString(254, QLatin1Char('d'));
    for (auto [reminder, name] : {std::pair{Reminder::kProgramOutdated, "outdated"},
                                  std::pair{Reminder::kOnlineUpdate, "online"}}) {
      const int row = static_cast<int>(reminder);
      QTest::addRow("%s, plain folder", name) << row << "/home/u/.local/share/quarnexp"
                                              << "/home/u/.local/share/quarnexp/ORVNBBS.HT";
      QTest::addRow("%s, trailing separators", name) << row << "/data//"
                                                     << "/data/ORVNBBS.HT";
      QTest::addRow("%s, 255 characters", name)
          << row << long_directory << long_directory + "/ORVNBBS.HT";
    }
  }

  void ConnectionButtonsOpenTheirTargetAndClose() {
    QFETCH(int, reminder);
    QFETCH(QString, data_directory);
    QFETCH(QString, bbs_file);
    const std::string directory = data_directory.toStdString();
    const auto shown = static_cast<Reminder>(reminder);

    RecordingLauncher bbs;
    ModalRun bbs_run = RunModal([&] { ShowReminder(shown, Language::kItalian, bbs, directory); },
                                [&](QDialog& dialog) { Click(dialog, "bbsButton"); });
    QVERIFY(bbs_run.closed_by_test);
    QCOMPARE(bbs.files, QStringList{bbs_file});
    QVERIFY(bbs.urls.isEmpty());

    RecordingLauncher internet;
    ModalRun internet_run =
        RunModal([&] { ShowReminder(shown, Language::kItalian, internet, directory); },
                 [&](QDialog& dialog) { Click(dialog, "internetButton"); });
    QVERIFY(internet_run.closed_by_test);
    QCOMPARE(internet.urls, QStringList{QString::fromLatin1(kMakerWebAddress)});
    QVERIFY(internet.files.isEmpty());

    RecordingLauncher cancel;
    ModalRun cancel_run =
        RunModal([&] { ShowReminder(shown, Language::kItalian, cancel, directory); },
                 [&](QDialog& dialog) { Click(dialog, "cancelButton"); });
    QVERIFY(cancel_run.closed_by_test);
    QVERIFY(cancel.urls.isEmpty() && cancel.files.isEmpty());
  }

  void DatabaseOutdatedWarnsAndCloses_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("Italian") << 0
                             << QStringList{"Attenzione...",
                                            "Le basi antivirali di Quarn attualmente in uso, in "
                                            "relazione ai nuovi virus informatici circolanti, "
                                            "sono da considerarsi superate.",
                                            "Per la sicurezza del Vostro computer potete "
                                            "richiedere le basi aggiornate a Orvane."};
    QTest::newRow("English") << 1
                             << QStringList{"Warning...",
                                            "The Quarn virus databases in use are out of date "
                                            "for the new computer viruses going round.",
                                            "For the safety of your computer you can ask Orvane "
                                            "for up-to-date databases."};
  }

  void DatabaseOutdatedWarnsAndCloses() {
    QFETCH(int, language);
    QFETCH(QStringList, texts);
    QString title, outdated, request;
    ModalRun run = RunModal([&] { ShowDatabaseOutdated(nullptr, static_cast<Language>(language)); },
                            [&](QDialog& dialog) {
                              title = dialog.windowTitle();
                              outdated = DialogText(dialog, "outdatedText");
                              request = DialogText(dialog, "requestText");
                              Click(dialog, "okButton");
                            });
    QVERIFY(run.shown);
    QCOMPARE((QStringList{title, outdated, request}), texts);
    QVERIFY(run.closed_by_test);
  }

  void OnlineUpdateTitlesInBothLanguages_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("Italian") << 0
                             << QStringList{"Aggiornamenti OnLine", "Collegamento ad Internet",
                                            "Collegamento a O.R.V.N."};
    QTest::newRow("English") << 1
                             << QStringList{"Upgrade OnLine", "Connect to Internet",
                                            "Connect to O.R.V.N."};
  }

  void OnlineUpdateTitlesInBothLanguages() {
    QFETCH(int, language);
    QFETCH(QStringList, titles);
    QStringList shown;
    RecordingLauncher launcher;
    RunModal([&] { ShowOnlineUpdate(nullptr, static_cast<Language>(language), launcher, "/data"); },
             [&](QDialog& dialog) {
               shown << dialog.windowTitle();
               for (const char* name : {"internetGroup", "bbsGroup"}) {
                 auto* group = Find<QGroupBox>(dialog, name);
                 shown << (group != nullptr ? group->title() : QString());
               }
             });
    QCOMPARE(shown, titles);
  }

  void OnlineUpdateOffersOneBrowserAtATime() {
    QList<bool> initially, after_choice;
    RecordingLauncher launcher;
    ModalRun run =
        RunModal([&] { ShowOnlineUpdate(nullptr, Language::kItalian, launcher, "/data"); },
                 [&](QDialog& dialog) {
                   const char* names[] = {"explorerRadio", "netscapeRadio", "mosaicRadio"};
                   QList<QRadioButton*> radios;
                   for (const char* name : names) {
                     auto* radio = Find<QRadioButton>(dialog, name);
                     QVERIFY2(radio != nullptr, name);
                     radios << radio;
                   }
                   QCOMPARE(radios[0]->text(), QStringLiteral("Internet Explorer"));
                   QCOMPARE(radios[1]->text(), QStringLiteral("Netscape"));
                   QCOMPARE(radios[2]->text(), QStringLiteral("Mosaic"));
                   for (QRadioButton* radio : radios) initially << radio->isChecked();
                   radios[2]->click();
                   for (QRadioButton* radio : radios) after_choice << radio->isChecked();
                   Click(dialog, "internetButton");
                 });
    QCOMPARE(initially, (QList<bool>{true, false, false}));
    QCOMPARE(after_choice, (QList<bool>{false, false, true}));
    QVERIFY(run.closed_by_test);
    QCOMPARE(launcher.urls, QStringList{QString::fromLatin1(kMakerWebAddress)});
  }

  void SplashClosesByItselfAfterItsHold_data() {
    QTest::addColumn<int>("hold_ms");
    QTest::addColumn<bool>("press_escape");
    QTest::newRow("no input") << 50 << false;
    QTest::newRow("escape ignored") << 300 << true;
  }

  void SplashClosesByItselfAfterItsHold() {
    QFETCH(int, hold_ms);
    QFETCH(bool, press_escape);
    QSize shown_size;
    bool forced = false;
    QObject context;
    std::function<void()> watch = [&] {
      QWidget* splash = QApplication::activeModalWidget();
      if (splash == nullptr) {
        QTimer::singleShot(kPollInterval, &context, watch);
        return;
      }
      shown_size = splash->size();
      if (press_escape) QTest::keyClick(splash, Qt::Key_Escape);
      // Only a splash that never closes by itself reaches this.
      QTimer::singleShot(10000, &context, [&forced] {
        if (auto* stuck = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
          forced = true;
          stuck->done(0);
        }
      });
    };
    QTimer::singleShot(0, &context, watch);
    QElapsedTimer elapsed;
    elapsed.start();
    ShowSplash(nullptr, std::chrono::milliseconds(hold_ms));
    QVERIFY(!forced);
    QVERIFY(elapsed.elapsed() >= hold_ms);
    QCOMPARE(shown_size, pictures::SplashPicture().deviceIndependentSize().toSize());
  }
};

}  // namespace quarn::tools

QTEST_MAIN(quarn::tools::InformationDialogsTest)
#include "information_dialogs_test.moc"
