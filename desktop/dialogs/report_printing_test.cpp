#include "desktop/dialogs/report_printing.h"

#include <QApplication>
#include <QFile>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "desktop/dialogs/report_pagination.h"
#include "desktop/dialogs/test_support/dialog_test_driver.h"

namespace quarn::tools {
namespace {

using Kind = ReportLine::Kind;

// Page objects of a PDF file: "/Type /Page", not the "/Type /Pages" of the page tree.
int PdfPageCount(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return -1;
  const QString text = QString::fromLatin1(file.readAll());
  return static_cast<int>(text.count(QRegularExpression("/Type\\s*/Page(?![a-zA-Z])")));
}

std::vector<std::string> ListLines(size_t count) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < count; ++i) lines.push_back("C:\\FILE" + std::to_string(i) + ".COM");
  return lines;
}

int PdfLinesPerPage() {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  return MeasureReportLayout(printer).lines_per_page;
}

}  // namespace

class ReportPrintingTest : public QObject {
  Q_OBJECT

 private slots:
  // An empty list is the heading and three blank lines; a full last page has no empty page
  // after it; a long list runs on.
  void PagesEndWhereTheLinesDo() {
    const std::vector<ReportPage> empty = PaginateReport(0, 60);
    const ReportPage heading = {{Kind::kHeading}, {Kind::kBlank}, {Kind::kBlank}, {Kind::kBlank}};
    QCOMPARE(empty.size(), size_t{1});
    QVERIFY(empty[0] == heading);

    const std::vector<ReportPage> full = PaginateReport(16, 10);
    QCOMPARE(full.size(), size_t{2});
    QCOMPARE(full[1].size(), size_t{10});
    QVERIFY((full[1].back() == ReportLine{Kind::kListItem, 15}));

    const std::vector<ReportPage> pages = PaginateReport(130, 60);
    QCOMPARE(pages.size(), size_t{3});
    QVERIFY((pages[0][4] == ReportLine{Kind::kListItem, 0}));
    QVERIFY((pages[1].front() == ReportLine{Kind::kListItem, 56}));
    QVERIFY((pages[2].back() == ReportLine{Kind::kListItem, 129}));
  }

  void CopiesFollowTheCollation() {
    QVERIFY((PrintedPageOrder(3, 2, true) == std::vector<size_t>{0, 1, 2, 0, 1, 2}));
    QVERIFY((PrintedPageOrder(3, 2, false) == std::vector<size_t>{0, 0, 1, 1, 2, 2}));
    QVERIFY((PrintedPageOrder(2, 0, false) == std::vector<size_t>{0, 1}));
  }

  void PrintsTheListToPdf() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const int lines_per_page = PdfLinesPerPage();
    QVERIFY(lines_per_page > static_cast<int>(kReportHeaderLines));
    // One line more than two full pages.
    const std::vector<std::string> lines = ListLines(2 * lines_per_page + 1 - kReportHeaderLines);
    QWidget main_window;
    main_window.setWindowTitle("Quarn Explorer");

    const QString report = folder.filePath("report.pdf");
    QVERIFY(PrintReportToPdf(&main_window, lines, report));
    QCOMPARE(PdfPageCount(report), 3);
    QVERIFY(main_window.isEnabled());
    QFile written(report);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QVERIFY(written.readAll().contains("/FontName"));  // the lines were drawn as text

    const QString copies = folder.filePath("copies.pdf");
    QVERIFY(PrintReportToPdf(&main_window, lines, copies, 2, false));
    QCOMPARE(PdfPageCount(copies), 6);

    const QString empty = folder.filePath("empty.pdf");
    QVERIFY(PrintReportToPdf(nullptr, {}, empty));
    QCOMPARE(PdfPageCount(empty), 1);
  }

  void CancellingStopsAfterTheFirstPage() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QWidget main_window;
    QTimer::singleShot(0, [] {
      for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() == "printCancelDialog" && window->isVisible()) {
          window->findChild<QPushButton*>("printCancelButton")->click();
        }
      }
    });
    const QString report = folder.filePath("cancelled.pdf");
    QVERIFY(!PrintReportToPdf(&main_window, ListLines(3 * PdfLinesPerPage()), report));
    QVERIFY(main_window.isEnabled());
    QCOMPARE(PdfPageCount(report), 1);
  }

  void DismissingThePrintDialogIsNoFailure() {
    QWidget main_window;
    bool asked = false;
    testing::OnNextModal([&](QWidget& dialog) {
      asked = true;
      if (auto* print_dialog = qobject_cast<QDialog*>(&dialog)) print_dialog->reject();
    });
    QVERIFY(PrintReport(&main_window, ListLines(3)));
    QVERIFY(asked);
    QVERIFY(main_window.isEnabled());
  }

  void UnwritableOutputFails() {
    QWidget main_window;
    QVERIFY(!PrintReportToPdf(&main_window, ListLines(3), "/nonexistent-folder/report.pdf"));
    QVERIFY(main_window.isEnabled());
  }
};

}  // namespace quarn::tools

QTEST_MAIN(quarn::tools::ReportPrintingTest)
#include "report_printing_test.moc"
