// SPDX-License-Identifier: Apache-2.0
#include <QMenuBar>
#include <QTest>

#include "desktop/test_support/window_test_support.h"
#include "desktop/update_reminders.h"
#include "engine/database_version.h"

namespace quarn::window {

using testing::ModalWatcher;
using testing::TestMachine;
using testing::TestProgram;

namespace {

std::vector<QString> MenuTexts(QMenu* menu) {
  std::vector<QString> texts;
  for (QAction* action : menu->actions())
    texts.push_back(action->isSeparator() ? "-" : action->text());
  return texts;
}

// A database of no records, dated as given.
void WriteDatedDatabase(const std::string& folder, uint16_t year, uint8_t month) {
  DatabaseContent content;
  content.version = 42;
  content.year = year;
  content.month = month;
  content.names[1] = "EICAR-Test-File";
  testing::WriteBytes(folder + "/QUARN.DAT",
                      EncodeDatabaseFile(BuildSignatureImage(content).value()));
  testing::WriteBytes(folder + "/NAMEVIR.DAT", EncodeDatabaseFile(BuildNameImage(content).value()));
}

// The modal dialogs shown once the main window was up.
int RemindersShown(const ModalWatcher& watcher) {
  int shown = 0;
  for (const ModalWatcher::Seen& seen : watcher.seen) shown += seen.window_shown ? 1 : 0;
  return shown;
}

}  // namespace

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  void AFirstRunWritesTheSettingsAndShowsTheItalianWindow() {
    TestMachine machine;
    ModalWatcher watcher;
    TestProgram run(machine);
    QCOMPARE(run.program->Start(), std::nullopt);

    Result<RegistryDocument> settings = run.settings->Load();
    QVERIFY(settings);
    QCOMPARE(settings->ReadNumber(kProgramKey, "Lingua"), std::optional<uint32_t>(0));
    QCOMPARE(settings->FindValue(kProgramKey, "Lingua")->data.size(), size_t{4});
    QCOMPARE(settings->ReadNumber(kProgramKey, "Opzioni"), std::optional<uint32_t>(0x00010000));

    // The window in Italian: its texts are the string table's, checked there.
    MainWindow& window = run.window();
    const QList<QAction*> menus = window.menuBar()->actions();
    QCOMPARE(menus.size(), 3);
    QCOMPARE(menus[2]->text(), QString("Informazioni"));
    QCOMPARE(MenuTexts(menus[1]->menu()),
             (std::vector<QString>{"Floppy Disk Boot Fix", "-", "Scheduler", "-",
                                   "Aggiornamenti OnLine"}));
    QVERIFY(window.actions()->Get(kCommandScan)->isEnabled());
    QVERIFY(!window.actions()->Get(kCommandStop)->isEnabled());
    QCOMPARE(window.options_bar()->Text(1), QString("AZIONE: SOLO RICERCA"));

    const uint16_t version = ReadDatabaseVersion(run.program->engine().signatures).version;
    QCOMPARE(window.windowTitle(), QString("Quarn Explorer PROFESSIONAL 2.0.%1").arg(version));
    QVERIFY(window.isMaximized());
    QCOMPARE(window.tree()->computer_item()->child(0)->text(0), QString("C:"));
    QCOMPARE(RemindersShown(watcher), 0);
  }

  void EnglishIsTakenFromTheSettings() {
    // As the program writes the number, and as a person types it.
    for (const char* lingua : {"hex:01,00,00,00", "dword:00000001"}) {
      TestMachine machine;
      testing::WriteSettings(machine.settings, "\"Lingua\"=" + std::string(lingua) + "\r\n");
      ModalWatcher watcher;
      TestProgram run(machine);
      QCOMPARE(run.program->Start(), std::nullopt);
      QCOMPARE(run.window().menuBar()->actions()[2]->text(), QString("Information"));
      Result<RegistryDocument> settings = run.settings->Load();
      QVERIFY(settings);
      QCOMPARE(settings->FindValue(kProgramKey, "Lingua")->type,
               std::string_view(lingua).starts_with("dword") ? uint32_t{kRegDword}
                                                             : uint32_t{kRegBinary});
    }
  }

  void ADatabaseThatDoesNotLoadEndsTheProgramWhileTheTitleSaysLoading() {
    TestMachine machine;
    const std::string empty = machine.scratch.Child("empty");
    std::filesystem::create_directories(empty);
    QString title_meanwhile;
    TestProgram* run_pointer = nullptr;
    ModalWatcher watcher([&](QWidget*, const ModalWatcher::Seen& seen) {
      if (seen.title == "Attenzione" && run_pointer->program->window() != nullptr)
        title_meanwhile = run_pointer->program->window()->windowTitle();
    });
    TestProgram run(machine, "", {1999, 1}, false, empty);
    run_pointer = &run;
    QCOMPARE(run.program->Start(), std::optional<int>(0));
    std::vector<QString> boxes;
    for (const ModalWatcher::Seen& seen : watcher.seen) {
      if (!seen.text.isEmpty()) boxes.push_back(seen.title + ": " + seen.text);
    }
    QCOMPARE(boxes, (std::vector<QString>{"Errore: QUARN.DAT non trovato",
                                          "Attenzione: Caricamento file dati fallito!"}));
    QCOMPARE(title_meanwhile, QString("Quarn Explorer PROFESSIONAL 2.0"));
    QVERIFY(!run.window().isVisible());
  }

  void RemindersFallDueFromTheirMonthOn() {
    const CalendarMonth june_2024{2024, 6};
    QVERIFY(UpdateReminderDue(june_2024, {2024, 6}));
    QVERIFY(UpdateReminderDue(june_2024, {2024, 1}));
    QVERIFY(UpdateReminderDue(june_2024, {2023, 12}));
    QVERIFY(!UpdateReminderDue(june_2024, {2024, 7}));
    QVERIFY(!UpdateReminderDue(june_2024, {2025, 1}));
    QVERIFY(UpdateReminderDue({2025, 1}, {2024, 12}));
    QVERIFY(!UpdateReminderDue({2000, 5}, kProgramUpdateDate));
    QVERIFY(UpdateReminderDue({2000, 6}, kProgramUpdateDate));
    QVERIFY(UpdateReminderDue({2031, 2}, kProgramUpdateDate));
  }

  // A database dated this month, as the build dates its own, is current; one a year old is not.
  void TheDatabaseReminderComesAYearAfterItsDate() {
    struct Case {
      uint16_t year;
      uint8_t month;
      int reminders;  // the program's own always comes, from June 2000 on
    };
    for (const Case& c : {Case{2024, 6, 1}, Case{2023, 6, 2}, Case{2022, 12, 2}, Case{2023, 7, 1},
                          Case{2025, 1, 1}}) {
      TestMachine machine;
      WriteDatedDatabase(machine.data, c.year, c.month);
      ModalWatcher watcher;
      TestProgram run(machine, "", {2024, 6});
      QCOMPARE(run.program->Start(), std::nullopt);
      QCOMPARE(RemindersShown(watcher), c.reminders);
      QCOMPARE(run.window().windowTitle(), QString("Quarn Explorer PROFESSIONAL 2.0.42"));
    }
    TestMachine machine;
    WriteDatedDatabase(machine.data, 1999, 6);
    ModalWatcher watcher;
    TestProgram run(machine, "", {2000, 5});
    QCOMPARE(run.program->Start(), std::nullopt);
    QCOMPARE(RemindersShown(watcher), 0);
  }
};

}  // namespace quarn::window

QTEST_MAIN(quarn::window::StartupTest)
#include "startup_test.moc"
