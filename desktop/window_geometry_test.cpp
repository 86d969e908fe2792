#include "desktop/window_geometry.h"

#include <QTest>

#include "desktop/command_toolbar.h"
#include "desktop/main_window.h"
#include "platform/test_support/memory_file_system.h"

namespace quarn::window {

class WindowGeometryTest : public QObject {
  Q_OBJECT

 private slots:
  void LaysOutA900By600ClientArea() {
    const WindowLayout layout = ComputeWindowLayout(QSize(900, 600), 40, 20);
    QCOMPARE(layout.tree, QRect(0, 60, 300, 540));
    QCOMPARE(layout.list, QRect(300, 60, 600, 480));
    QCOMPARE(layout.list.bottom() + 1, 540);
    QCOMPARE(layout.animation, QRect(300, 540, 60, 60));
    QCOMPARE(layout.progress, QRect(360, 540, 540, 20));
    QCOMPARE(layout.counter_bar, QRect(360, 560, 540, 20));
    QCOMPARE(layout.path_bar, QRect(360, 580, 540, 20));
    QCOMPARE(layout.options_bar, QRect(0, 40, 900, 20));
  }

  void DividesWithoutRounding() {
    const WindowLayout layout = ComputeWindowLayout(QSize(1000, 700), 38, 19);
    QCOMPARE(layout.tree, QRect(0, 57, 333, 643));
    QCOMPARE(layout.list, QRect(333, 57, 666, 700 - 57 - 57));
    QCOMPARE(layout.progress, QRect(333 + 57, 700 - 57, 666 - 57, 19));
  }

  void PutsThePartEdgesWhereTheBarsNeedThem() {
    QCOMPARE(PathBarEdges(900, 20), (std::array<int, 2>{540, kToBarEnd}));
    QCOMPARE(OptionsBarEdges(900), (std::array<int, 3>{300, 800, kToBarEnd}));
    QCOMPARE(CounterBarEdges(900, 20), (std::array<int, 3>{180, 360, kToBarEnd}));
  }

  // And the logo sits on the toolbar past the buttons.
  void TheWindowFollowsTheLayoutOnEveryResize() {
    MemoryFileSystem files;
    DriveMap drives;
    MonitorLink monitor;
    WindowSetup setup;
    setup.splash_hold = std::chrono::milliseconds(1);
    setup.drives = &drives;
    setup.files = &files;
    setup.monitor = &monitor;
    MainWindow window(setup);
    window.show();
    for (QSize size : {QSize(900, 700), QSize(640, 480)}) {
      window.resize(size);
      QTRY_COMPARE(window.client()->size().width(), size.width());
      const QSize client = window.client()->size();
      const int toolbar = window.toolbar()->height();
      const int bar = window.path_bar()->height();
      const WindowLayout expected = ComputeWindowLayout(client, toolbar, bar);
      QCOMPARE(window.tree()->geometry(), expected.tree);
      QCOMPARE(window.result_view()->geometry(), expected.list);
      QCOMPARE(window.animation()->geometry(), expected.animation);
      QCOMPARE(window.progress()->geometry(), expected.progress);
      QCOMPARE(window.counter_bar()->geometry(), expected.counter_bar);
      QCOMPARE(window.path_bar()->geometry(), expected.path_bar);
      QCOMPARE(window.options_bar()->geometry(), expected.options_bar);
      QCOMPARE(window.counter_bar()->PartGeometry(1).right() + 1,
               CounterBarEdges(client.width(), bar)[1]);
      QCOMPARE(window.path_bar()->PartGeometry(1).right() + 1, expected.path_bar.width());
    }
    auto* logo = window.toolbar()->findChild<QLabel*>("logo");
    QVERIFY(logo != nullptr);
    QCOMPARE(logo->geometry(), QRect(kLogoPosition, QSize(100, 25)));
    QWidget* exit_button = window.toolbar()->widgetForAction(window.actions()->Get(kCommandExit));
    QVERIFY(exit_button != nullptr);
    QVERIFY2(exit_button->geometry().right() < kLogoPosition.x(), "the logo covers a button");
  }
};

}  // namespace quarn::window

QTEST_MAIN(quarn::window::WindowGeometryTest)
#include "window_geometry_test.moc"
