// SPDX-License-Identifier: Apache-2.0
#include "desktop/dialogs/information_dialogs.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QRadioButton>
#include <QtTest>

#include "desktop/dialogs/test_support/dialog_test_driver.h"
#include "res/pictures/pictures.h"

namespace quarn::tools {
namespace {

using testing::Click;
using testing::OnNextModal;

class RecordingLauncher final : public ExternalLauncher {
 public:
  void OpenUrl(const QString& url) override { urls << url; }
  void OpenFile(const QString& path) override { files << path; }

  QStringList urls;
  QStringList files;
};

QString LabelText(QWidget& dialog, const char* name) {
  auto* label = dialog.findChild<QLabel*>(name);
  return label != nullptr ? label->text() : QStringLiteral("<no label %1>").arg(name);
}

enum class Reminder { kProgramOutdated, kOnlineUpdate };

void ShowReminder(Reminder reminder, ExternalLauncher& launcher, const std::string& directory) {
  if (reminder == Reminder::kProgramOutdated) {
    ShowProgramOutdated(nullptr, Language::kItalian, launcher, directory);
  } else {
    ShowOnlineUpdate(nullptr, Language::kItalian, launcher, directory);
  }
}

}  // namespace

class InformationDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void AboutNamesTheLargestDatabaseVersionWhole() {
    QString shown;
    bool closed = false;
    OnNextModal([&](QWidget& dialog) {
      shown = LabelText(dialog, "versionText");
      QVERIFY(Click(dialog, "okButton"));
      closed = !dialog.isVisible();
    });
    ShowAbout(nullptr, Language::kItalian, 4294967295u);
    QCOMPARE(shown, QStringLiteral("Quarn Explorer 2.0.4294967295"));
    QVERIFY(closed);
  }

  // A virus name is shown as text, whatever markup it holds.
  void MemoryAlertShowsMarkupInANameAsText() {
    Qt::TextFormat format = Qt::RichText;
    QString virus;
    OnNextModal([&](QWidget& dialog) {
      auto* label = dialog.findChild<QLabel*>("virusText");
      QVERIFY(label != nullptr);
      format = label->textFormat();
      virus = label->text();
      QVERIFY(Click(dialog, "okButton"));
    });
    ShowMemoryAlert(nullptr, Language::kEnglish, "<b>Evil</b>&amp;");
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(virus, QStringLiteral("THE VIRUS <b>Evil</b>&amp;"));
  }

  void ProgramOutdatedOpensTheAddressWhicheverBrowserIsChosen() {
    for (int browser : {0, 1, 2}) {
      RecordingLauncher launcher;
      QStringList entries;
      OnNextModal([&](QWidget& dialog) {
        auto* combo = dialog.findChild<QComboBox*>("browserCombo");
        QVERIFY(combo != nullptr);
        for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
        combo->setCurrentIndex(browser);
        QVERIFY(Click(dialog, "internetButton"));
      });
      ShowProgramOutdated(nullptr, Language::kEnglish, launcher, "/data");
      QCOMPARE(entries, (QStringList{"Internet Explorer", "Netscape", "Mosaic"}));
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
    for (const char* button : {"bbsButton", "internetButton", "cancelButton"}) {
      RecordingLauncher launcher;
      bool closed = false;
      OnNextModal([&](QWidget& dialog) {
        QVERIFY(Click(dialog, button));
        closed = !dialog.isVisible();
      });
      ShowReminder(shown, launcher, directory);
      QVERIFY2(closed, button);
      const QString name(button);
      QCOMPARE(launcher.files, name == "bbsButton" ? QStringList{bbs_file} : QStringList{});
      QCOMPARE(launcher.urls, name == "internetButton"
                                  ? QStringList{QString::fromLatin1(kMakerWebAddress)}
                                  : QStringList{});
    }
  }

  void DatabaseOutdatedClosesOnOk() {
    QString title;
    bool closed = false;
    OnNextModal([&](QWidget& dialog) {
      title = dialog.windowTitle();
      QVERIFY(Click(dialog, "okButton"));
      closed = !dialog.isVisible();
    });
    ShowDatabaseOutdated(nullptr, Language::kEnglish);
    QCOMPARE(title, QStringLiteral("Warning..."));
    QVERIFY(closed);
  }

  void OnlineUpdateOffersOneBrowserAtATime() {
    QList<bool> initially, after_choice;
    RecordingLauncher launcher;
    OnNextModal([&](QWidget& dialog) {
      QList<QRadioButton*> radios;
      for (const char* name : {"explorerRadio", "netscapeRadio", "mosaicRadio"}) {
        radios << dialog.findChild<QRadioButton*>(name);
        QVERIFY2(radios.back() != nullptr, name);
      }
      for (QRadioButton* radio : radios) initially << radio->isChecked();
      radios[2]->click();
      for (QRadioButton* radio : radios) after_choice << radio->isChecked();
      QVERIFY(Click(dialog, "internetButton"));
    });
    ShowOnlineUpdate(nullptr, Language::kItalian, launcher, "/data");
    QCOMPARE(initially, (QList<bool>{true, false, false}));
    QCOMPARE(after_choice, (QList<bool>{false, false, true}));
    QCOMPARE(launcher.urls, QStringList{QString::fromLatin1(kMakerWebAddress)});
  }

  // Escape does not cut the splash short; it closes by itself after its hold. Watched by a
  // poll of its own: the shared driver would close what its step leaves open.
  void SplashClosesByItselfAfterItsHold() {
    constexpr int kHoldMs = 200;
    QSize shown_size;
    bool forced = false;
    QObject context;
    std::function<void()> watch = [&] {
      QWidget* splash = QApplication::activeModalWidget();
      if (splash == nullptr) {
        QTimer::singleShot(testing::kPollIntervalMs, &context, watch);
        return;
      }
      shown_size = splash->size();
      QTest::keyClick(splash, Qt::Key_Escape);
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
    ShowSplash(nullptr, std::chrono::milliseconds(kHoldMs));
    QVERIFY(!forced);
    QVERIFY(elapsed.elapsed() >= kHoldMs);
    QCOMPARE(shown_size, pictures::SplashPicture().deviceIndependentSize().toSize());
  }
};

}  // namespace quarn::tools

QTEST_MAIN(quarn::tools::InformationDialogsTest)
#include "information_dialogs_test.moc"
