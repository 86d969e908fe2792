#include "desktop/dialogs/report_printing.h"

#include <QApplication>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "desktop/dialogs/report_pagination.h"
#include "desktop/dialogs/tool_text.h"

namespace quarn::tools {
namespace {

constexpr int kReportPointSize = 10;
constexpr int kLongestPrintedLine = 255;
constexpr int kDocumentNameLength = 3;

QFont ReportFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSize(kReportPointSize);
  return font;
}

// The modeless dialog shown while pages are produced. Any of its commands cancels the job:
// the Cancel button, and Escape, which the dialog takes as Cancel; it has no close button.
class PrintCancelDialog : public QDialog {
 public:
  PrintCancelDialog(QWidget* main_window, bool* aborted)
      : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
        main_window_(main_window),
        aborted_(aborted) {
    setObjectName("printCancelDialog");
    setWindowTitle(ProgramText(kPrintingTitle));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(ProgramText(kPrintingFirstText)));
    layout->addWidget(new QLabel(ProgramText(kPrintingSecondText)));
    auto* status = new QLabel;
    status->setObjectName("printStatusText");
    layout->addWidget(status);
    auto* cancel = new QPushButton("Cancel");
    cancel->setObjectName("printCancelButton");
    layout->addWidget(cancel);
    connect(cancel, &QPushButton::clicked, this, &PrintCancelDialog::reject);
  }

  void reject() override {
    *aborted_ = true;
    if (main_window_) main_window_->setEnabled(true);
    QDialog::reject();
  }

 private:
  QPointer<QWidget> main_window_;
  bool* aborted_;
};

void DrawPage(QPainter& painter, const ReportPage& page, const std::vector<std::string>& lines,
              const ReportLayout& layout) {
  const int ascent = painter.fontMetrics().ascent();
  for (size_t slot = 0; slot < page.size(); ++slot) {
    QString text;
    if (page[slot].kind == ReportLine::Kind::kHeading) {
      text = ProgramText(kReportHeading);
    } else if (page[slot].kind == ReportLine::Kind::kListItem) {
      text = ProgramText(lines[page[slot].item]).left(kLongestPrintedLine);
    }
    if (!text.isEmpty()) {
      painter.drawText(0, static_cast<int>(slot) * layout.line_height + ascent, text);
    }
  }
}

// Prints on a printer set up by the caller, with its copies and collation. True when every
// page was produced and the user did not cancel.
bool PrintJob(QPrinter& printer, QWidget* main_window, const std::vector<std::string>& lines) {
  const int copies = printer.copyCount();
  const bool collate = printer.collateCopies();
  // The copies are produced here, page by page, so the printer must not repeat them.
  printer.setCopyCount(1);
  const QString title = main_window ? main_window->windowTitle() : ProgramText(kPrintingTitle);
  printer.setDocName(title.left(kDocumentNameLength));

  const ReportLayout layout = MeasureReportLayout(printer);
  const std::vector<ReportPage> pages = PaginateReport(lines.size(), layout.lines_per_page);
  const std::vector<size_t> order = PrintedPageOrder(pages.size(), copies, collate);

  if (main_window) main_window->setEnabled(false);
  bool aborted = false;
  auto cancel_dialog = std::make_unique<PrintCancelDialog>(main_window, &aborted);
  cancel_dialog->show();

  QPainter painter;
  bool failed = !painter.begin(&printer);
  if (!failed) {
    painter.setFont(ReportFont());
    for (size_t i = 0; i < order.size(); ++i) {
      if (i > 0 && !printer.newPage()) {
        failed = true;
        break;
      }
      DrawPage(painter, pages[order[i]], lines, layout);
      // Keeps the cancel dialog live between pages; a cancel ends the job here.
      QApplication::processEvents();
      if (aborted) break;
    }
    if (failed) printer.abort();
    painter.end();
  }
  if (!aborted && main_window) main_window->setEnabled(true);
  return !failed && !aborted;
}

}  // namespace

ReportLayout MeasureReportLayout(QPrinter& printer) {
  const QFontMetrics metrics(ReportFont(), &printer);
  ReportLayout layout;
  layout.line_height = std::max(1, metrics.height() + std::max(0, metrics.leading()));
  layout.character_width = std::max(1, metrics.averageCharWidth());
  layout.lines_per_page = std::max(1, printer.height() / layout.line_height);
  return layout;
}

bool PrintReport(QWidget* main_window, const std::vector<std::string>& lines) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setCollateCopies(true);
  QPrintDialog dialog(&printer, main_window);
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
  if (dialog.exec() != QDialog::Accepted) return true;
  return PrintJob(printer, main_window, lines);
}

bool PrintReportToPdf(QWidget* main_window, const std::vector<std::string>& lines,
                      const QString& pdf_path, int copies, bool collate) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(pdf_path);
  printer.setCopyCount(std::max(1, copies));
  printer.setCollateCopies(collate);
  return PrintJob(printer, main_window, lines);
}

}  // namespace quarn::tools
