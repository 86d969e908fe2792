#include "desktop/command_line_lookup.h"

#include <QTest>

#include "desktop/test_support/window_test_support.h"

namespace quarn::window {

using testing::ModalWatcher;
using testing::SampleBytes;
using testing::TestMachine;
using testing::TestProgram;

class CommandLineLookupTest : public QObject {
  Q_OBJECT

 private slots:
  void SplitsAtBackslashesWithAnOptionalTrailingOne() {
    using Parts = std::vector<std::string>;
    QCOMPARE(SplitCommandLinePath("C:\\DOS"), (Parts{"C:", "DOS"}));
    QCOMPARE(SplitCommandLinePath("c:\\dos\\"), (Parts{"c:", "dos"}));
    QCOMPARE(SplitCommandLinePath("C:"), (Parts{"C:"}));
    QCOMPARE(SplitCommandLinePath("C:\\"), (Parts{"C:"}));
    QCOMPARE(SplitCommandLinePath("C:\\A B\\X"), (Parts{"C:", "A B", "X"}));
    QCOMPARE(SplitCommandLinePath(""), Parts{});
  }

  void AFoundPathIsSelectedAndScannedAtOnce_data() {
    QTest::addColumn<QString>("command_line");
    QTest::newRow("as shown") << "C:\\DOS";
    QTest::newRow("other case, trailing backslash") << "c:\\dos\\";
  }
  void AFoundPathIsSelectedAndScannedAtOnce() {
    QFETCH(QString, command_line);
    TestMachine machine;
    machine.Put("DOS/UTIL/X.COM", SampleBytes("eicar.com"));
    machine.Put("GAMES/Y.COM", SampleBytes("eicar.com"));
    ModalWatcher watcher;
    TestProgram run(machine, command_line.toStdString());
    QCOMPARE(run.program->Start(), std::nullopt);
    QVERIFY(run.program->scans()->scanning());
    QVERIFY(run.WaitForScan());
    const std::vector<std::string> lines = run.Lines();
    QCOMPARE(lines.at(0), std::string("[C:\\DOS]"));
    QCOMPARE(lines.at(2), std::string("C:\\DOS\\UTIL\\X.COM Infetto da EICAR-Test-File"));
    QCOMPARE(lines.at(7), std::string("Files Totali: 1."));
    DriveTree& tree = *run.window().tree();
    QCOMPARE(tree.current_tree_item()->text(0), QString("DOS"));
    QCOMPARE(tree.current_path(), std::string("C:\\DOS"));
    QCOMPARE(tree.current_tree_item()->child(0)->text(0), QString("UTIL"));
    for (const ModalWatcher::Seen& seen : watcher.seen) QVERIFY(!seen.window_shown);
  }

  void AMissingPathSaysSoAndLeavesMyComputerSelected() {
    TestMachine machine;
    machine.Put("DOS/X.COM", SampleBytes("eicar.com"));
    ModalWatcher watcher;
    TestProgram run(machine, "C:\\DOS\\NOPE");
    QCOMPARE(run.program->Start(), std::nullopt);
    QVERIFY(!run.program->scans()->scanning());
    QCOMPARE(watcher.seen.size() > 0, true);
    QCOMPARE(watcher.seen.back().title, QString("Non trovato:"));
    QCOMPARE(watcher.seen.back().text, QString("C:\\DOS\\NOPE"));
    DriveTree& tree = *run.window().tree();
    QCOMPARE(tree.current_tree_item(), tree.computer_item());
    QVERIFY(run.Lines().empty());
  }

  void AComponentMatchesAnyLaterVisibleItem() {
    TestMachine machine;
    machine.Put("DOS/X.COM", SampleBytes("clean.com"));
    ModalWatcher watcher;
    TestProgram run(machine);
    QCOMPARE(run.program->Start(), std::nullopt);
    DriveTree& tree = *run.window().tree();
    QVERIFY(LookUpCommandLinePath(tree, "c:\\dos"));
    QCOMPARE(tree.current_path(), std::string("C:\\DOS"));
    // The second component is looked for after "C:", not only among its children.
    QVERIFY(!LookUpCommandLinePath(tree, "C:\\C:"));
    QVERIFY(!LookUpCommandLinePath(tree, "D:"));
  }
};

}  // namespace quarn::window

QTEST_MAIN(quarn::window::CommandLineLookupTest)
#include "command_line_lookup_test.moc"
