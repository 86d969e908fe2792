// SPDX-License-Identifier: Apache-2.0
#include <QLineEdit>
#include <QTest>

#include "desktop/test_support/window_test_support.h"

namespace quarn::window {

using testing::ModalWatcher;
using testing::SampleBytes;
using testing::TestMachine;
using testing::TestProgram;

namespace {

constexpr char kDeleteAskOptions[] = "\"Opzioni\"=hex:00,04,01,00\r\n";  // FileFilter 0, action 4

QTreeWidgetItem* DriveItem(MainWindow& window) {
  return window.tree()->computer_item()->child(0);
}

}  // namespace

class WindowScanTest : public QObject {
  Q_OBJECT

 private slots:
  void AScanStartedFromTheTreeFillsTheListTheLogAndTheBars() {
    TestMachine machine;
    machine.Put("A.COM", SampleBytes("eicar.com"));
    machine.Put("B.EXE", SampleBytes("clean.exe"));
    machine.Put("README.TXT", {'h', 'i'});
    machine.Put("SUB/C.COM", SampleBytes("eicar.com"));
    ModalWatcher watcher;
    TestProgram run(machine);
    QCOMPARE(run.program->Start(), std::nullopt);
    MainWindow& window = run.window();

    window.tree()->setCurrentItem(DriveItem(window));
    QCOMPARE(window.path_bar()->Text(0), QString("C:"));
    QCOMPARE(DriveItem(window)->childCount(), 1);  // selecting a drive lists its folders
    window.actions()->Get(kCommandScan)->trigger();
    QVERIFY(run.program->scans()->scanning());
    QVERIFY(!window.actions()->Get(kCommandScan)->isEnabled());
    QVERIFY(window.actions()->Get(kCommandStop)->isEnabled());
    QVERIFY(!window.actions()->Get(kCommandExit)->isEnabled());
    QVERIFY(window.animation()->playing());
    QVERIFY(run.WaitForScan());

    const std::vector<std::string> expected = {"[C:]",
                                               " ",
                                               "C:\\A.COM Infetto da EICAR-Test-File",
                                               "C:\\SUB\\C.COM Infetto da EICAR-Test-File",
                                               " ",
                                               "Files Infetti: 2.",
                                               "Files Sospetti: 0.",
                                               "Files Analizzati: 3.",
                                               "Files Totali: 4.",
                                               " "};
    QCOMPARE(run.Lines(), expected);
    QAbstractItemModel* model = window.result_view()->model();
    QCOMPARE(model->rowCount(), static_cast<int>(expected.size()));
    for (int row = 0; row < model->rowCount(); ++row) {
      QCOMPARE(model->index(row, 0).data().toString().toStdString(), expected[row]);
    }
    QVERIFY(!model->index(2, 0).data(Qt::DecorationRole).isNull());

    const std::string log = machine.Log();
    const size_t block = log.find("--------------------------------------------------------\r\n");
    QVERIFY(block != std::string::npos);
    std::string lines;
    for (const std::string& line : expected) lines += line + "\r\n";
    // The separator, the stamp "dd/mm/yy - hh:mm:ss", an empty line, then every line.
    QCOMPARE(log.substr(block + 58 + 19, 4), std::string("\r\n\r\n"));
    QCOMPARE(log.substr(block + 58 + 23), lines);

    QCOMPARE(window.counter_bar()->Text(0), QString("File Analizzati: 3"));
    QCOMPARE(window.counter_bar()->Text(1), QString("File Infetti: 2"));
    QCOMPARE(window.counter_bar()->Text(2), QString("File Totali: 4"));
    QVERIFY(window.actions()->Get(kCommandScan)->isEnabled());
    QVERIFY(!window.actions()->Get(kCommandStop)->isEnabled());
    QVERIFY(!window.animation()->playing());
    QCOMPARE(window.progress()->value(), 0);
    QCOMPARE(window.tree()->current_tree_item(), DriveItem(window));
    QCOMPARE(DriveItem(window)->child(0)->text(0), QString("SUB"));
    QVERIFY(!DriveItem(window)->child(0)->isExpanded());  // the walk closes what it opened
    QVERIFY(watcher.seen.empty() || !watcher.seen.back().window_shown);
  }

  void StopEndsTheWalkAtTheNextEntryAndTheTotalsStillCome() {
    TestMachine machine;
    testing::WriteSettings(machine.settings, kDeleteAskOptions);
    for (const char* name : {"A.COM", "B.COM", "C.COM"})
      machine.Put(name, SampleBytes("eicar.com"));
    TestProgram* run_pointer = nullptr;
    bool stop_enabled_meanwhile = false;
    ModalWatcher watcher([&](QWidget*, const ModalWatcher::Seen& seen) {
      if (!seen.window_shown) return;
      MainWindow& window = run_pointer->window();
      stop_enabled_meanwhile = window.actions()->Get(kCommandStop)->isEnabled();
      window.actions()->Get(kCommandStop)->trigger();
    });
    TestProgram run(machine);
    run_pointer = &run;
    QCOMPARE(run.program->Start(), std::nullopt);
    run.window().tree()->setCurrentItem(DriveItem(run.window()));
    run.program->RunCommand(kCommandScan);
    QVERIFY(run.WaitForScan());

    QVERIFY(stop_enabled_meanwhile);
    int questions = 0;
    for (const ModalWatcher::Seen& seen : watcher.seen) questions += seen.window_shown ? 1 : 0;
    QCOMPARE(questions, 1);
    const std::vector<std::string> lines = run.Lines();
    QCOMPARE(lines.at(2), std::string("C:\\A.COM Infetto da EICAR-Test-File"));
    QCOMPARE(lines.at(3), std::string(" "));
    QCOMPARE(lines.at(7), std::string("Files Totali: 1."));
    QCOMPARE(lines.at(8), std::string("Files Cancellati: 0."));
    QVERIFY(std::filesystem::exists(machine.drive + "/A.COM"));  // the question was answered No
    QVERIFY(run.window().actions()->Get(kCommandScan)->isEnabled());
  }

  void ClosingTheWindowDuringAQuestionAnswersNoAndEndsOnceTheScanHas() {
    TestMachine machine;
    testing::WriteSettings(machine.settings, kDeleteAskOptions);
    for (const char* name : {"A.COM", "B.COM"}) machine.Put(name, SampleBytes("eicar.com"));
    TestProgram* run_pointer = nullptr;
    bool open_while_scanning = false;
    ModalWatcher watcher([&](QWidget*, const ModalWatcher::Seen& seen) {
      if (!seen.window_shown) return;
      run_pointer->window().close();
      open_while_scanning = run_pointer->window().isVisible();
    });
    TestProgram run(machine);
    run_pointer = &run;
    QCOMPARE(run.program->Start(), std::nullopt);
    run.window().tree()->setCurrentItem(DriveItem(run.window()));
    run.program->RunCommand(kCommandScan);
    QVERIFY(run.WaitForScan());
    QVERIFY(open_while_scanning);  // the window waits for the scan thread
    QTRY_VERIFY(!run.window().isVisible());
    int questions = 0;
    for (const ModalWatcher::Seen& seen : watcher.seen) questions += seen.window_shown ? 1 : 0;
    QCOMPARE(questions, 1);  // B.COM was never asked about
    QVERIFY(std::filesystem::exists(machine.drive + "/A.COM"));
    QCOMPARE(run.Lines().at(7), std::string("Files Totali: 1."));
  }

  void ALineCanBeEditedButKeepsItsText() {
    TestMachine machine;
    machine.Put("A.COM", SampleBytes("eicar.com"));
    ModalWatcher watcher;
    TestProgram run(machine);
    QCOMPARE(run.program->Start(), std::nullopt);
    MainWindow& window = run.window();
    window.tree()->setCurrentItem(DriveItem(window));
    window.actions()->Get(kCommandScan)->trigger();
    QVERIFY(run.WaitForScan());

    QTreeView* view = window.result_view();
    const QModelIndex line = view->model()->index(2, 0);
    const QString before = line.data().toString();
    QCOMPARE(before, QString("C:\\A.COM Infetto da EICAR-Test-File"));
    view->setCurrentIndex(line);
    view->edit(line);
    auto* editor = view->findChild<QLineEdit*>();
    QVERIFY2(editor != nullptr, "editing a line starts");
    editor->setText("changed");
    QTest::keyClick(editor, Qt::Key_Return);
    QCOMPARE(line.data().toString(), before);
    QCOMPARE(run.Lines().at(2), before.toStdString());

    // The column follows the window, and a line cut short shows whole in its tooltip.
    window.showNormal();
    window.resize(1600, 600);
    QTRY_VERIFY(view->columnWidth(0) >= view->viewport()->width() - 1);
    QVERIFY(view->columnWidth(0) > 1000);
    QCOMPARE(line.data(Qt::ToolTipRole).toString(), before);
  }

  void TheViewLogAndHelpCommandsOpenTheirFiles() {
    TestMachine machine;
    testing::WriteBytes(machine.data + "/ENCI.HTM", {'<'});
    const std::string bundled = BundledDataDirectory();
    ModalWatcher watcher;
    TestProgram run(machine);
    QCOMPARE(run.program->Start(), std::nullopt);
    run.program->RunCommand(kCommandViewLog);
    run.program->RunCommand(kCommandEncyclopedia);
    run.program->RunCommand(kCommandHelp);
    run.program->RunCommand(kCommandPrint);
    run.program->RunCommand(12345);
    QCOMPARE(run.launcher.opened,
             (std::vector<QString>{QString::fromStdString(machine.data + "/QUARNEXP.LOG"),
                                   QString::fromStdString(machine.data + "/ENCI.HTM"),
                                   QString::fromStdString(bundled + "/QUARNEXP.HTM")}));
    run.program->RunCommand(kCommandStop);
    QVERIFY(run.program->session()->stop_requested().load());
    QVERIFY(!run.program->scans()->scanning());
  }
};

}  // namespace quarn::window

QTEST_MAIN(quarn::window::WindowScanTest)
#include "window_scan_test.moc"
