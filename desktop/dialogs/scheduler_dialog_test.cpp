#include "desktop/dialogs/scheduler_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include "desktop/dialogs/crontab_line.h"
#include "desktop/dialogs/test_support/dialog_test_driver.h"
#include "platform/test_support/memory_settings_store.h"

namespace quarn::tools {
namespace {

using testing::Click;
using testing::OnNextModal;

const ScheduledCommand kCommand = {"/opt/quarn/bin/quarnscan", "/home/anna/settings.reg",
                                   "/home/anna/data/QUARNEXP.LOG"};
constexpr std::string_view kCommandWords =
    "'/opt/quarn/bin/quarnscan' '--settings' '/home/anna/settings.reg' '--log' "
    "'/home/anna/data/QUARNEXP.LOG' 'C:\\DOS' '--action' 'clean'";

Schedule ScheduleOf(uint32_t mode) {
  Schedule schedule;
  schedule.mode = mode;
  schedule.days = kMondayBit | 4 | kSundayBit;  // Monday, Wednesday, Sunday
  schedule.weekday = 5;
  schedule.hour = 21;
  schedule.minute = 7;
  schedule.month_day = 31;
  schedule.command_line = "C:\\DOS --action clean";
  return schedule;
}

// What cron hands to the shell for a crontab command: a backslash takes the next character
// with it, and only "\%" loses its backslash; a bare % ends the command.
std::string AsCronPassesIt(std::string_view command) {
  std::string passed;
  for (size_t i = 0; i < command.size(); ++i) {
    if (command[i] == '\\' && i + 1 < command.size()) {
      if (command[i + 1] != '%') passed += '\\';
      passed += command[++i];
    } else if (command[i] == '%') {
      break;
    } else {
      passed += command[i];
    }
  }
  return passed;
}

QString ScriptIn(const QTemporaryDir& folder, const QString& name, const QByteArray& text) {
  const QString path = folder.filePath(name);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return {};
  file.write(text);
  file.close();
  file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  return path;
}

// A crontab program that keeps the crontab in crontab.txt beside itself.
QString FakeCrontab(const QTemporaryDir& folder) {
  return ScriptIn(folder, "crontab",
                  "#!/bin/sh\n"
                  "store=\"$(dirname \"$0\")/crontab.txt\"\n"
                  "case \"$1\" in\n"
                  "  -l) [ -f \"$store\" ] || { echo \"no crontab for tester\" >&2; exit 1; }\n"
                  "      cat \"$store\" ;;\n"
                  "  -) cat > \"$store\" ;;\n"
                  "  *) exit 2 ;;\n"
                  "esac\n");
}

QString CrontabText(const QTemporaryDir& folder) {
  QFile file(folder.filePath("crontab.txt"));
  if (!file.open(QIODevice::ReadOnly)) return "(none)";
  return QString::fromUtf8(file.readAll());
}

void StoreSchedule(MemorySettingsStore& store, const Schedule& schedule) {
  QVERIFY(store.Update([&](RegistryDocument& settings) {
    tools::StoreSchedule(settings, schedule);
    settings.SetValue(kProgramKey, "DAT", RegistryValue::Text("/home/anna/data/"));
  }));
}

Schedule StoredSchedule(MemorySettingsStore& store) {
  Result<RegistryDocument> settings = store.Load();
  return settings ? LoadSchedule(*settings) : Schedule{};
}

bool Enabled(QWidget& dialog, const char* name) {
  auto* widget = dialog.findChild<QWidget*>(name);
  return widget != nullptr && widget->isEnabled();
}

QString EnabledGroupNames(QWidget& dialog) {
  QStringList names;
  for (const char* name :
       {"daysGroup", "weekdayGroup", "monthDayGroup", "timeGroup", "commandGroup", "dailyButton"}) {
    if (Enabled(dialog, name)) names << name;
  }
  return names.join(' ');
}

}  // namespace

class SchedulerDialogTest : public QObject {
  Q_OBJECT

 private slots:
  // One line for each mode; none for a schedule that never runs; a command line's own log
  // option replaces the program's.
  void CrontabLineOfEachMode() {
    const std::string tail =
        std::string(" ") + std::string(kCommandWords) + " >/dev/null # quarnexp-schedule";
    QCOMPARE(ScheduleCrontabLine(ScheduleOf(kScheduleAtStartUp), kCommand).value_or("-"),
             "@reboot" + tail);
    QCOMPARE(ScheduleCrontabLine(ScheduleOf(kScheduleDaily), kCommand).value_or("-"),
             "7 21 * * 0,1,3" + tail);
    QCOMPARE(ScheduleCrontabLine(ScheduleOf(kScheduleWeekly), kCommand).value_or("-"),
             "7 21 * * 5" + tail);
    QCOMPARE(ScheduleCrontabLine(ScheduleOf(kScheduleMonthly), kCommand).value_or("-"),
             "7 21 31 * *" + tail);
    Schedule every_day = ScheduleOf(kScheduleDaily);
    every_day.days = 127;
    QVERIFY(ScheduleCrontabLine(every_day, kCommand).value_or("").starts_with("7 21 * * * '"));

    Schedule no_day = ScheduleOf(kScheduleDaily);
    no_day.days = 0;
    Schedule late = ScheduleOf(kScheduleWeekly);
    late.hour = 24;
    Schedule blank = ScheduleOf(kScheduleAtStartUp);
    blank.command_line = "  \t";
    for (const Schedule& schedule : {ScheduleOf(kScheduleOff), no_day, late, blank}) {
      QVERIFY(!ScheduleCrontabLine(schedule, kCommand).has_value());
    }

    Schedule own_log = ScheduleOf(kScheduleAtStartUp);
    own_log.command_line = "quarnscan --no-log A:";
    QCOMPARE(ScheduleCrontabLine(own_log, kCommand).value_or("-"),
             "@reboot '/opt/quarn/bin/quarnscan' '--settings' '/home/anna/settings.reg' "
             "'--no-log' 'A:' >/dev/null # quarnexp-schedule");
  }

  void CommandLineSplitsLikeAShell() {
    const std::vector<std::string> expected = {"C:\\Program Files", "--log=a b", "", "it's",
                                               "C:\\DOS\\"};
    QVERIFY(SplitCommandLine("C:\\QUARN\\QUARNEXP.EXE \"C:\\Program Files\" --log=\"a b\" "
                             "'' \"it's\"  C:\\DOS\\") == expected);
    QVERIFY(SplitCommandLine("  quarnscan\t/srv/files 'open") ==
            (std::vector<std::string>{"/srv/files", "open"}));
    QVERIFY(SplitCommandLine("quarnscanner x") == (std::vector<std::string>{"quarnscanner", "x"}));
  }

  void QuotedArgumentsReachTheProgramUnchanged() {
    const std::vector<std::string> arguments = {
        "plain", "it's", "50%", "a\\%b", "a\\\\%b", "%%", "\\", "$HOME `x` \"q\" ; # *", ""};
    std::string command = QuoteCrontabArgument("%s|");
    for (const std::string& argument : arguments) command += " " + QuoteCrontabArgument(argument);
    QProcess shell;
    shell.start("/bin/sh", {"-c", QString::fromStdString("printf " + AsCronPassesIt(command))});
    QVERIFY(shell.waitForFinished(5000));
    std::string expected;
    for (const std::string& argument : arguments) expected += argument + "|";
    QCOMPARE(shell.readAllStandardOutput().toStdString(), expected);
  }

  void MergeReplacesOnlyTheScheduleLine() {
    const std::string others = "MAILTO=anna\n0 * * * * backup # quarnexp-schedule-not\n";
    const std::string old_line = "@reboot 'old' # quarnexp-schedule";
    QCOMPARE(MergeScheduleLine("", "NEW"), std::string("NEW\n"));
    QCOMPARE(
        MergeScheduleLine("MAILTO=anna\n" + old_line + "\n0 * * * * backup\n" + old_line, "NEW"),
        std::string("MAILTO=anna\nNEW\n0 * * * * backup\n"));
    QCOMPARE(MergeScheduleLine(others + old_line + "  \n", std::nullopt), others);
    QCOMPARE(MergeScheduleLine(others, std::nullopt), others);
  }

  void FirstOpeningWithNothingStored() {
    MemorySettingsStore store;
    bool switched_on = true, at_start_up = false, group_kept = false, label_kept = false;
    QString enabled = "?";
    OnNextModal([&](QWidget& dialog) {
      switched_on = dialog.findChild<QCheckBox*>("schedulerCheck")->isChecked();
      at_start_up = dialog.findChild<QRadioButton*>("atStartUpButton")->isChecked();
      group_kept = Enabled(dialog, "runGroup");
      label_kept = Enabled(dialog, "hourLabel");
      enabled = EnabledGroupNames(dialog);
      Click(dialog, "cancelButton");
    });
    const SchedulerOutcome outcome = RunSchedulerDialog(nullptr, Language::kItalian, store);
    QVERIFY(!switched_on);
    QVERIFY(at_start_up);
    QVERIFY(group_kept);
    QVERIFY(label_kept);
    QCOMPARE(enabled, QString());
    QVERIFY(!outcome.accepted);
    QVERIFY(!store.Text().has_value());
  }

  void EnablingRuleFollowsTheModeAndTheSwitch() {
    MemorySettingsStore store;
    StoreSchedule(store, ScheduleOf(kScheduleAtStartUp));
    QStringList seen;
    OnNextModal([&](QWidget& dialog) {
      seen << EnabledGroupNames(dialog);
      for (const char* mode : {"dailyButton", "weeklyButton", "monthlyButton"}) {
        Click(dialog, mode);
        seen << EnabledGroupNames(dialog);
      }
      dialog.findChild<QCheckBox*>("schedulerCheck")->setChecked(false);
      seen << EnabledGroupNames(dialog);
      dialog.findChild<QCheckBox*>("schedulerCheck")->setChecked(true);
      seen << EnabledGroupNames(dialog);
      Click(dialog, "cancelButton");
    });
    RunSchedulerDialog(nullptr, Language::kEnglish, store);
    const QStringList expected = {"commandGroup dailyButton",
                                  "daysGroup timeGroup commandGroup dailyButton",
                                  "weekdayGroup timeGroup commandGroup dailyButton",
                                  "monthDayGroup timeGroup commandGroup dailyButton",
                                  "",
                                  "monthDayGroup timeGroup commandGroup dailyButton"};
    QCOMPARE(seen, expected);
  }

  void OkStoresTheScheduleAndKeepsTheCrontabInStep() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const SchedulerSetup setup = {"/opt/quarn/bin/quarnscan", FakeCrontab(folder)};
    {
      QFile crontab(folder.filePath("crontab.txt"));
      QVERIFY(crontab.open(QIODevice::WriteOnly));
      crontab.write("MAILTO=anna\n30 2 * * * /usr/bin/backup\n");
    }
    MemorySettingsStore store;
    StoreSchedule(store, ScheduleOf(kScheduleMonthly));

    // Daily on Tuesday at 06:45: the line goes last, the other lines stay.
    OnNextModal([](QWidget& dialog) {
      Click(dialog, "dailyButton");
      for (const char* day : {"mondayCheck", "wednesdayCheck", "sundayCheck"}) {
        dialog.findChild<QCheckBox*>(day)->setChecked(false);
      }
      dialog.findChild<QCheckBox*>("tuesdayCheck")->setChecked(true);
      dialog.findChild<QSpinBox*>("hourSpin")->setValue(6);
      dialog.findChild<QSpinBox*>("minuteSpin")->setValue(45);
      dialog.findChild<QLineEdit*>("commandLineEdit")->setText("C: --files all");
      Click(dialog, "okButton");
    });
    SchedulerOutcome outcome = RunSchedulerDialog(nullptr, Language::kItalian, store, setup);
    QVERIFY(outcome.accepted);
    QVERIFY2(outcome.installed.ok(), outcome.installed.message().c_str());
    Schedule expected = ScheduleOf(kScheduleDaily);
    expected.days = 2;
    expected.hour = 6;
    expected.minute = 45;
    expected.command_line = "C: --files all";
    QVERIFY(StoredSchedule(store) == expected);
    const QString settings_path = QFileInfo("memory/settings.reg").absoluteFilePath();
    QCOMPARE(CrontabText(folder),
             "MAILTO=anna\n30 2 * * * /usr/bin/backup\n45 6 * * 2 '/opt/quarn/bin/quarnscan' "
             "'--settings' '" +
                 settings_path +
                 "' '--log' '/home/anna/data/QUARNEXP.LOG' 'C:' '--files' 'all' >/dev/null "
                 "# quarnexp-schedule\n");

    // Weekly replaces it; switching the scheduler off removes it and keeps the values shown.
    OnNextModal([](QWidget& dialog) {
      Click(dialog, "weeklyButton");
      Click(dialog, "okButton");
    });
    RunSchedulerDialog(nullptr, Language::kItalian, store, setup);
    QVERIFY(CrontabText(folder).contains("\n45 6 * * 5 '/opt/quarn/bin/quarnscan'"));
    QCOMPARE(CrontabText(folder).count("quarnexp-schedule"), 1);

    OnNextModal([](QWidget& dialog) {
      dialog.findChild<QCheckBox*>("schedulerCheck")->setChecked(false);
      Click(dialog, "okButton");
    });
    outcome = RunSchedulerDialog(nullptr, Language::kItalian, store, setup);
    expected.mode = kScheduleOff;
    QVERIFY(StoredSchedule(store) == expected);
    QCOMPARE(CrontabText(folder), QString("MAILTO=anna\n30 2 * * * /usr/bin/backup\n"));
  }

  void WithoutACrontabProgramTheUserIsToldAndTheValuesAreStored() {
    QTemporaryDir empty_path;
    QVERIFY(empty_path.isValid());
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", empty_path.path().toUtf8());
    MemorySettingsStore store;
    QString told;
    OnNextModal([&](QWidget& dialog) {
      dialog.findChild<QCheckBox*>("schedulerCheck")->setChecked(true);
      dialog.findChild<QLineEdit*>("commandLineEdit")->setText("C:");
      Click(dialog, "okButton");
      OnNextModal(
          [&](QWidget& box) {
            if (auto* message = qobject_cast<QMessageBox*>(&box)) told = message->text();
          },
          &dialog);
    });
    const SchedulerOutcome outcome = RunSchedulerDialog(nullptr, Language::kEnglish, store);
    qputenv("PATH", path);
    QCOMPARE(told, QString::fromUtf8(LoadText(Language::kEnglish, 421).data()));
    QVERIFY(!outcome.installed.ok());
    QCOMPARE(StoredSchedule(store).mode, uint32_t{kScheduleAtStartUp});
    QCOMPARE(StoredSchedule(store).command_line, std::string("C:"));
  }
};

}  // namespace quarn::tools

QTEST_MAIN(quarn::tools::SchedulerDialogTest)
#include "scheduler_dialog_test.moc"
