#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include "desktop/test_support/window_test_support.h"

namespace quarn::window {

using testing::ModalWatcher;
using testing::ReadText;
using testing::SampleBytes;
using testing::TestMachine;
using testing::TestProgram;

// The tools reached from the window's commands: what their dialogs decide must reach the
// scan, the status bar, the tree and the settings.
class ToolCommandsTest : public QObject {
  Q_OBJECT

 private slots:
  void OptionsChangeTheNextScanTheStatusBarAndTheTree() {
    TestMachine machine;
    machine.Put("A.COM", SampleBytes("eicar.com"));
    machine.Put("NOTE.TXT", SampleBytes("eicar.com"));  // found only with every file scanned
    ModalWatcher watcher([](QWidget* dialog, const ModalWatcher::Seen&) {
      if (dialog->objectName() != "optionsDialog") return;
      dialog->findChild<QComboBox*>("fileFilterList")->setCurrentIndex(1);
      dialog->findChild<QCheckBox*>("heuristicsCheck")->setChecked(false);
      dialog->findChild<QPushButton*>("okButton")->click();
    });
    TestProgram run(machine);
    QCOMPARE(run.program->Start(), std::nullopt);
    MainWindow& window = run.window();
    QTreeWidgetItem* drive_before = window.tree()->computer_item()->child(0);
    window.tree()->setCurrentItem(drive_before);

    emit window.commandTriggered(kCommandOptions);
    QCOMPARE(window.options_bar()->Text(0), QString("FILES: TUTTI                 "));
    QCOMPARE(window.options_bar()->Text(2), QString("EURI: OFF"));
    QCOMPARE(run.program->session()->options().file_filter, 1u);
    QVERIFY(ReadText(machine.settings).find("\"Opzioni\"=hex:01,00,00,00") != std::string::npos);
    // The tree was built again: its computer item is selected, not the drive of before.
    QCOMPARE(window.tree()->currentItem(), window.tree()->computer_item());

    window.tree()->setCurrentItem(window.tree()->computer_item()->child(0));
    window.actions()->Get(kCommandScan)->trigger();
    QVERIFY(run.WaitForScan());
    const std::vector<std::string> lines = run.Lines();
    QVERIFY(std::find(lines.begin(), lines.end(), "C:\\NOTE.TXT Infetto da EICAR-Test-File") !=
            lines.end());
  }

  void TheFloppyFixAndTheSchedulerOpenTheirDialogs() {
    TestMachine machine;
    std::vector<QString> titles;
    ModalWatcher watcher([&](QWidget* dialog, const ModalWatcher::Seen&) {
      titles.push_back(dialog->windowTitle());
    });
    TestProgram run(machine);
    QCOMPARE(run.program->Start(), std::nullopt);
    titles.clear();
    emit run.window().commandTriggered(kCommandFloppyBootFix);
    emit run.window().commandTriggered(kCommandScheduler);
    QCOMPARE(titles.size(), size_t{2});
    QCOMPARE(titles[0], QString("Floppy Disk Boot Fix"));
    QCOMPARE(titles[1], QString("Scheduler"));
  }
};

}  // namespace quarn::window

QTEST_MAIN(quarn::window::ToolCommandsTest)
#include "tool_commands_test.moc"
